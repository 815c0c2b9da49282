// The installer's language, from the installed product's uninstall entry.

#include "launcher/language.h"

#include "config/app_paths.h"
#include "platform/win32.h"
#include "tessel/registry2/registry.h"
#include "tessel/text.h"

namespace launcher {
namespace {

const wchar_t uninstall_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

const LANGID english_united_states = 1033;

struct language_entry {
    const char* name;
    const char* lcid;
};

// Searched top to bottom; the names are the installer's own, spelling included.
const language_entry languages[] = {
    {"Bulgarian", "1026"}, {"Chinese (Taiwan)", "1028"}, {"Czech", "1029"},      {"Danish", "1030"},
    {"German", "1031"},    {"Greek", "1032"},            {"English", "1033"},    {"Spanish", "1034"},
    {"Finnish", "1035"},   {"French", "1036"},           {"Hungarian", "1038"},  {"Italian", "1040"},
    {"Japanese", "1041"},  {"Dutch", "1043"},            {"Norwegian", "1044"},  {"Polish", "1045"},
    {"Russian", "1049"},   {"Swedish", "1053"},          {"Thai", "1054"},       {"Turkish", "1055"},
    {"Vietnamese", "1066"}, {"Chinese (PRC)", "2052"},   {"Portugese (Portugal)", "2070"},
};

// One value of the product's key, narrow; both keys are opened for this
// read alone and closed in the reverse order.
std::string read_product_value(const std::wstring& product_key, const wchar_t* name) {
    tessel::registry2::key machine;
    tessel::registry2::key product;
    tessel::registry2::open_local_machine(machine);
    machine.open_subkey(product_key, product);
    return tessel::registry2::read_string_narrow(product, name);
}

std::string with_option(const std::string& lcid, const std::string& parameters) {
    return "/L" + lcid + " " + parameters;
}

}  // namespace

std::string language_lcid(const std::string& name) {
    for (const language_entry& entry : languages)
        if (name == entry.name) return entry.lcid;
    return "1033";
}

std::string add_language_option(std::string parameters) {
    // The identifier the product recorded, made British English when the
    // product did not mark its English as American and the system is not.
    try {
        const std::wstring product_key = uninstall_key + config::get_product_name();
        std::string lcid = read_product_value(product_key, L"InstallerLanguage");
        std::string american_marker;
        try {
            american_marker = read_product_value(product_key, L"en_US_UK");
        } catch (...) {
            american_marker.clear();
        }
        if (american_marker.empty() && lcid == "1033" && GetSystemDefaultLangID() != english_united_states)
            lcid = "2057";
        if (!lcid.empty() && !tessel::contains(parameters, "/L")) parameters = with_option(lcid, parameters);
    } catch (...) {
        // No recorded identifier: the language name below may still give one.
    }

    // The language name; an "/L" already present wins.
    try {
        const std::wstring product_key = uninstall_key + config::get_product_name();
        const std::string name = read_product_value(product_key, L"InstallLang");
        if (!name.empty() && !tessel::contains(parameters, "/L")) parameters = with_option(language_lcid(name), parameters);
    } catch (...) {
        // No language recorded: the parameters stay as they are.
    }
    return parameters;
}

}  // namespace launcher
