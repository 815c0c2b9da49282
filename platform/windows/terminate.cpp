// What std::terminate calls in the Windows programs, in place of the C++
// runtime's verbose default. That one writes the uncaught exception's type
// to standard error, which a GUI program does not have, and brings the
// runtime's symbol demangler into the image for it. Defined here under the
// runtime's own name, it keeps the library's version, and with it the
// demangler, out of the image; it ends the process as the default does
// once it has written.

#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
