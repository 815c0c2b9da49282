// The reference bootstrapper's one piece of logic: it takes apart the
// command line the launcher composes for its installer and turns it into
// msiexec's. Portable, so that it is tested natively; main.cpp is the
// Windows program around it.
//
// What it accepts, in any order, separated by blanks:
//   /L<digits>   the installer's language (the launcher puts it first); it
//                becomes the public property INSTALLERLANGUAGE. The first
//                one counts; later ones are dropped.
//   /s           silent: msiexec gets /qn. As the launcher reads it: "/s"
//                anywhere, case-sensitive ("/silent", a "/s" inside a /V
//                text); "/S" is not silent. The word "/s" is not passed on.
//   /V"text"     msiexec options and PROPERTY=value pairs, handed to
//   /Vtext       msiexec as they are; inside the quotes \" stands for a
//                quote and 2n backslashes before a quote for n (the
//                Windows runtime's rule). Every /V option counts.
// Everything else (a word, quotes kept) is passed on to msiexec unchanged.
#pragma once

#include <string>

namespace setup {

// The public property that carries the language to the product, which
// records it (the launcher of the next package reads it back).
const char language_property[] = "INSTALLERLANGUAGE";

struct request {
    std::string language;   // the digits of /L<digits>; empty without one
    bool silent = false;    // "/s" anywhere
    std::string msiexec_text;  // the /V texts, unescaped, blank-separated
    std::string passed_on;     // the other options, blank-separated
};

// The arguments of a full command line: what follows the program's own
// name (quoted or not) and the blanks behind it.
std::string arguments_of(const std::string& command_line);

request parse_arguments(const std::string& arguments);

// msiexec's parameters for installing msi_path:
//   /i "MSI" [/qn] [the other options] [the /V texts] [INSTALLERLANGUAGE=ID]
std::string msiexec_parameters(const request& request, const std::string& msi_path);

}  // namespace setup
