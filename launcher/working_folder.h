// The run's working folder below the temporary directory: where it is,
// how it is made and held for the run, and how a folder tree is removed
// again.
#pragma once

#include "platform/win32.h"

#include <string>

namespace launcher {

// The system's temporary directory, ending in a backslash, in a narrow form
// (narrow_path) that leaves room for the working folder where it can; empty
// when the system reports none or it has no narrow form that fits MAX_PATH,
// with the last error of narrow_path.
std::string temp_directory();

// Sets working_folder to a folder made for this run alone below the
// temporary directory (or "C:\Temp\", with a message when the system
// reports none), makes it current, and returns the handle that holds it in
// place until remove_working_folder: nobody may rename or remove it
// meanwhile. Only administrators and SYSTEM may write in it (and the
// launcher's own account when it is no administrator). An entry that
// already bears the folder's name ("QV" + the time in seconds) is left as
// it is and the next name ("_1", "_2" ... behind it) tried. A temporary
// directory that cannot be held in place is not used. INVALID_HANDLE_VALUE
// when no folder could be made current.
HANDLE prepare_working_folder();

// The folder that holds working_folder, without a trailing backslash.
std::string parent_directory();

// Deletes the folder and what is in it as far as it can; read-only files
// and subfolders whose names begin with "." stay. True when the folder
// itself was removed.
bool remove_folder_tree(const std::string& path);

// Removes working_folder, held by hold, which it closes: what it holds,
// then the folder itself, through a handle to that very folder. The process
// must have left it (another current directory).
bool remove_working_folder(HANDLE hold);

}  // namespace launcher
