// The run's working folder below the temporary directory: where it is,
// how it is made current, and how a folder tree is removed again.
#pragma once

#include <string>

namespace launcher {

// The system's temporary directory, ending in a backslash; empty when the
// system reports none or a path that does not fit MAX_PATH.
std::string temp_directory();

// Sets working_folder to the temporary directory (or "C:\Temp\" with a
// message when there is none) + "QV" + the time in seconds + "\", creates
// it so that only administrators and SYSTEM may write to it (and the
// launcher's own account when it is no administrator), replacing anything
// of that name, and makes it current. False when it cannot be made so.
bool prepare_working_folder();

// The folder that holds working_folder, without a trailing backslash.
std::string parent_directory();

// Deletes the folder and what is in it as far as it can; read-only files
// and subfolders whose names begin with "." stay. True when the folder
// itself was removed.
bool remove_folder_tree(const std::string& path);

}  // namespace launcher
