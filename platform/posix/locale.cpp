// GetSystemDefaultLangID from the POSIX locale: LC_ALL, then LANG (an empty
// variable counts as unset), such as "de_DE.UTF-8". Differs from Windows:
// only the languages the installer offers are known; a known language with
// another territory gives that language's main identifier, and anything
// else ("C", "POSIX", unset, unknown) gives 1033, English (United States).

#include "platform/win32.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct locale_entry {
    const char* name;  // language, or language_territory
    LANGID id;
};

// Territory-specific entries come before the language's main entry.
const locale_entry locales[] = {
    {"bg", 1026},    {"zh_TW", 1028}, {"zh_HK", 3076}, {"zh_CN", 2052}, {"zh_SG", 4100}, {"zh", 2052},
    {"cs", 1029},    {"da", 1030},    {"de_AT", 3079}, {"de_CH", 2055}, {"de", 1031},    {"el", 1032},
    {"en_GB", 2057}, {"en_AU", 3081}, {"en_CA", 4105}, {"en_IE", 6153}, {"en_NZ", 5129}, {"en", 1033},
    {"es", 1034},    {"fi", 1035},    {"fr_BE", 2060}, {"fr_CA", 3084}, {"fr_CH", 4108}, {"fr", 1036},
    {"hu", 1038},    {"it", 1040},    {"ja", 1041},    {"nl_BE", 2067}, {"nl", 1043},    {"nb", 1044},
    {"no", 1044},    {"pl", 1045},    {"pt_BR", 1046}, {"pt", 2070},    {"ru", 1049},    {"sv", 1053},
    {"th", 1054},    {"tr", 1055},    {"vi", 1066},
};

const LANGID english_united_states = 1033;

const char* locale_name() {
    for (const char* variable : {"LC_ALL", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != 0) return value;
    }
    return nullptr;
}

}  // namespace

LANGID WINAPI GetSystemDefaultLangID() {
    const char* name = locale_name();
    if (name == nullptr) return english_united_states;
    // "language[_territory][.codeset][@modifier]"
    const std::string full(name, std::strcspn(name, ".@"));
    const std::string language = full.substr(0, full.find('_'));
    for (const locale_entry& entry : locales)
        if (full == entry.name) return entry.id;
    for (const locale_entry& entry : locales)
        if (language == entry.name) return entry.id;
    return english_united_states;
}
