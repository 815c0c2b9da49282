// MessageBoxA: no window; the box is written to standard error as one line
//   MessageBoxA caption="..." text="..."
// with \\, \", \r, \n, \t and \xHH (other control bytes) escapes, and is
// answered with IDOK at once. Differs from Windows: only the OK button is
// offered (other button sets fail with ERROR_INVALID_PARAMETER); the owner
// window and the icon are ignored.

#include "platform/win32.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

void append_escaped(std::string& line, const char* text) {
    static const char hex[] = "0123456789abcdef";
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
            case '\\': line += "\\\\"; break;
            case '"': line += "\\\""; break;
            case '\r': line += "\\r"; break;
            case '\n': line += "\\n"; break;
            case '\t': line += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    line += "\\x";
                    line += hex[c >> 4];
                    line += hex[c & 0xf];
                } else {
                    line += static_cast<char>(c);
                }
        }
    }
}

}  // namespace

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    if ((type & 0xF) != MB_OK) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string line = "MessageBoxA caption=\"";
    append_escaped(line, caption != nullptr ? caption : "Error");  // the system's default caption
    line += "\" text=\"";
    append_escaped(line, text != nullptr ? text : "");
    line += "\"\n";
    // One write, so that boxes of several processes never interleave.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t count = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;  // no one to show it to: the answer is still OK
        done += static_cast<size_t>(count);
    }
    return IDOK;
}
