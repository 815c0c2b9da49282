// The one Win32 suite: what the system relies on from each Win32 function,
// written against the API alone. It is built natively over platform/posix
// and for Windows, where the Wine suite runs it; a case that holds on one
// side only is listed with its reason in differences.cpp, and skipped there.
#pragma once

#include "platform/win32.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace contract {

using qv_test::sentinel;

// The fixture of every case: skips a case that is a documented difference
// on this side, and gives it a fresh folder in the temporary directory,
// removed with everything in it afterwards.
class test : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& folder() const { return folder_; }
    std::string path(const std::string& name) const { return folder_ + "\\" + name; }
    // Whole files, through CreateFileA, ReadFile and WriteFile.
    void put(const std::string& name, const std::string& content) const;
    std::string get(const std::string& name) const;
    // A file's or folder's attributes, set through a handle as the launcher
    // sets them.
    BOOL set_attributes(const std::string& name, DWORD attributes) const;

private:
    std::string folder_;
    std::filesystem::path original_directory_;
};

// This program run again as a child: "--child ACTION ARGUMENTS" (see
// contract.cpp for the actions), started with ShellExecuteExA in directory
// (empty: the current one). Returns the process handle, or null with the
// last error of the failed start.
HANDLE start_child(const std::string& parameters, const std::string& directory = std::string());
// Waits for a child and returns its exit code; a child that takes longer
// than a minute is a failure of the calling case (and reported as ~0).
DWORD finish_child(HANDLE process);

// The full path of this program, as GetModuleFileNameA reports it.
std::string own_path();

}  // namespace contract
