// Paths for the narrow calls, which read text in the system's code page:
// where that code page cannot spell a path (a user name in another script
// is common), the path's short form can stand in for it.
#pragma once

#include <cstddef>
#include <string>

namespace launcher {

// The narrow form of a path that the system reports both ways: narrow as it
// stands when it spells wide exactly and leaves room characters below
// MAX_PATH; else the short (8.3) form of wide, which is ASCII where the
// volume makes short names, when the code page spells it and it leaves that
// room; else whichever of the two is spelled and fits MAX_PATH. Empty when
// none is, with the last error ERROR_NO_UNICODE_TRANSLATION when the code
// page spells neither, else ERROR_FILENAME_EXCED_RANGE.
std::string narrow_path(const std::string& narrow, const std::wstring& wide, size_t room);

}  // namespace launcher
