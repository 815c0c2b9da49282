// The launcher's reader in-process, for tests and fuzz targets that read
// many packages in one process.
#pragma once

#include "archive/reader.h"
#include "tessel/handle.h"

#include <string>

namespace qv_test {

// The reader on the package at dos_path, opened as the launcher holds its
// own file.
inline void extract_package(const std::string& dos_path, archive::extraction& run) {
    const tessel::unique_handle package(CreateFileA(dos_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    archive::extract_archive(package.get(), dos_path, run);
}

}  // namespace qv_test
