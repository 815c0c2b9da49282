// The POSIX layer's ExpandEnvironmentStringsW and GetSystemDefaultLangID.

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qv_test::scoped_environment;
using qv_test::sentinel;

std::wstring expand(const wchar_t* text) {
    wchar_t buffer[256];
    const DWORD count = ExpandEnvironmentStringsW(text, buffer, 256);
    EXPECT_GT(count, 0u);
    EXPECT_LE(count, 256u);
    return std::wstring(buffer, count > 0 ? count - 1 : 0);
}

TEST(posix_environment, expands_defined_names_and_keeps_the_rest_as_written) {
    const scoped_environment a("QV_ENV_A", std::string("alpha"));
    const scoped_environment utf8("QV_ENV_UTF8", std::string("caf\xc3\xa9"));
    const scoped_environment bytes("QV_ENV_BYTES", std::string("caf\xe9"));
    const scoped_environment empty("QV_ENV_EMPTY", std::string());
    const scoped_environment missing("QV_ENV_MISSING", std::nullopt);

    EXPECT_EQ(expand(L"x%QV_ENV_A%y"), L"xalphay");
    EXPECT_EQ(expand(L"%qv_env_a%"), L"alpha");  // names ignore case
    EXPECT_EQ(expand(L"%QV_ENV_UTF8%|%QV_ENV_BYTES%"), L"caf\u00e9|caf\u00e9");
    EXPECT_EQ(expand(L"[%QV_ENV_EMPTY%]"), L"[]");
    EXPECT_EQ(expand(L"%QV_ENV_MISSING%\\bin"), L"%QV_ENV_MISSING%\\bin");
    // The closing "%" of an undefined name may open the next reference.
    EXPECT_EQ(expand(L"%QV_ENV_MISSING%QV_ENV_A%"), L"%QV_ENV_MISSINGalpha");
    EXPECT_EQ(expand(L"100% sure"), L"100% sure");
    EXPECT_EQ(expand(L"%%"), L"%%");
    EXPECT_EQ(expand(L""), L"");
}

TEST(posix_environment, expansion_reports_the_size_it_needs) {
    const scoped_environment a("QV_ENV_A", std::string("alpha"));
    SetLastError(sentinel);
    EXPECT_EQ(ExpandEnvironmentStringsW(L"<%QV_ENV_A%>", nullptr, 0), 8u);  // with the terminator
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(ExpandEnvironmentStringsW(L"<%QV_ENV_A%>", small, 4), 8u);
    EXPECT_EQ(std::wstring(small, 4), std::wstring(L"<al\0", 4));
    wchar_t exact[8];
    EXPECT_EQ(ExpandEnvironmentStringsW(L"<%QV_ENV_A%>", exact, 8), 8u);
    EXPECT_EQ(std::wstring(exact), L"<alpha>");
    EXPECT_EQ(GetLastError(), sentinel);

    EXPECT_EQ(ExpandEnvironmentStringsW(nullptr, exact, 8), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(sentinel);
    EXPECT_EQ(ExpandEnvironmentStringsW(L"x", nullptr, 8), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(posix_locale, system_language_follows_lc_all_then_lang) {
    const scoped_environment no_lc_all("LC_ALL", std::nullopt);
    const scoped_environment no_lang("LANG", std::nullopt);
    EXPECT_EQ(GetSystemDefaultLangID(), 1033);

    const struct {
        const char* locale;
        LANGID id;
    } cases[] = {
        {"en_US.UTF-8", 1033}, {"en_GB.UTF-8", 2057}, {"de_DE.UTF-8", 1031}, {"de_DE@euro", 1031},
        {"de_AT", 3079},       {"de", 1031},          {"pt_PT", 2070},       {"pt_BR.UTF-8", 1046},
        {"zh_TW.UTF-8", 1028}, {"zh_CN", 2052},       {"ru_RU.KOI8-R", 1049}, {"nb_NO", 1044},
        {"C", 1033},           {"POSIX", 1033},       {"xx_YY", 1033},
    };
    for (const auto& entry : cases) {
        const scoped_environment lang("LANG", std::string(entry.locale));
        EXPECT_EQ(GetSystemDefaultLangID(), entry.id) << entry.locale;
    }
    const scoped_environment lang("LANG", std::string("de_DE.UTF-8"));
    {
        const scoped_environment lc_all("LC_ALL", std::string("en_GB.UTF-8"));
        EXPECT_EQ(GetSystemDefaultLangID(), 2057);
    }
    const scoped_environment lc_all("LC_ALL", std::string());  // empty counts as unset
    EXPECT_EQ(GetSystemDefaultLangID(), 1031);
}

}  // namespace
