// The registry module: opening keys, reading strings, and its errors.

#include "tessel/registry2/registry.h"
#include "tessel/unicode/unicode.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace registry2 = tessel::registry2;

namespace {

const wchar_t test_key[] = L"SOFTWARE\\Lindhale\\RegistryTest";

// A private copy of the values fixture as the registry, and the test's own
// environment variables.
class registry2_test : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream fixture(QV_REGISTRY_FIXTURES "/values.reg", std::ios::binary);
        ASSERT_TRUE(fixture.good());
        std::ofstream(hive_, std::ios::binary) << fixture.rdbuf();
    }

    qv_test::test_folder folder_;
    const std::string hive_ = folder_ / "values.reg";
    qv_test::scoped_environment registry_{"QV_REGISTRY", hive_};
    qv_test::scoped_environment test_folder_{"QV_TEST_FOLDER", std::string("C:\\Quorvane")};
    qv_test::scoped_environment undefined_{"QV_TEST_UNDEFINED", std::nullopt};
    qv_test::scoped_environment long_{"QV_TEST_LONG", std::nullopt};
};

template <class Error, class Call>
std::string what_of(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error thrown";
    return std::string();
}

TEST_F(registry2_test, reads_strings_with_their_one_terminator_removed) {
    registry2::key root;
    registry2::key values;
    registry2::open_local_machine(root);
    root.open_subkey(test_key, values);

    EXPECT_EQ(registry2::read_string_narrow(values, L"Plain"), "C:\\Program Files\\Quorvane \"current\"");
    EXPECT_EQ(registry2::read_string(values, L""), L"default text");
    EXPECT_EQ(registry2::read_string(values, L"Empty0"), L"");
    EXPECT_EQ(registry2::read_string(values, L"Empty2"), L"");
    EXPECT_EQ(registry2::read_string(values, L"NoTerminator"), L"ab");
    EXPECT_EQ(registry2::read_string(values, L"TwoTerminators"), std::wstring(L"a\0", 2));
    EXPECT_EQ(registry2::read_string(values, L"OddBytes"), L"ab");
    EXPECT_EQ(registry2::read_string(values, L"plain"), registry2::read_string(values, L"PLAIN"));

    registry2::key inner;
    values.open_subkey(L"sub", inner);
    EXPECT_EQ(registry2::read_string_narrow(inner, L"Inner"), "inner");
}

TEST_F(registry2_test, expands_defined_variables_and_keeps_undefined_ones) {
    registry2::key root;
    registry2::key values;
    registry2::open_local_machine(root);
    root.open_subkey(test_key, values);
    EXPECT_EQ(registry2::read_string(values, L"Expand"), L"C:\\Quorvane\\bin");
    EXPECT_EQ(registry2::read_string(values, L"ExpandUndefined"), L"%QV_TEST_UNDEFINED%\\bin");

    // The expansion buffer holds 32,768 characters with the terminator.
    setenv("QV_TEST_LONG", std::string(32767, 'x').c_str(), 1);
    EXPECT_EQ(registry2::read_string(values, L"ExpandLong").size(), 32767u);
    setenv("QV_TEST_LONG", std::string(32768, 'x').c_str(), 1);
    EXPECT_EQ(what_of<registry2::value_error>([&] { registry2::read_string(values, L"ExpandLong"); }),
              "registry2.value_error[ExpandEnvironmentStrings() failed: value \"ExpandLong\" (122)]");
}

TEST_F(registry2_test, missing_and_mistyped_values) {
    registry2::key root;
    registry2::key values;
    registry2::open_local_machine(root);
    root.open_subkey(test_key, values);
    EXPECT_EQ(what_of<registry2::value_error>([&] { registry2::read_string(values, L"Missing"); }),
              "registry2.value_error[Not found: value \"Missing\"]");
    EXPECT_EQ(what_of<registry2::value_error>([&] { registry2::read_string(values, L"TypeZero"); }),
              "registry2.value_error[Not found: value \"TypeZero\"]");
    EXPECT_EQ(what_of<registry2::type_mismatch>([&] { registry2::read_string_narrow(values, L"Dword"); }),
              "registry2.type_mismatch[Type mismatch: value \"Dword\" expected 1 found 4]");
    EXPECT_EQ(what_of<registry2::type_mismatch>([&] { registry2::read_string(values, L"Binary"); }),
              "registry2.type_mismatch[Type mismatch: value \"Binary\" expected 1 found 3]");
    // Every error of the module is caught as its base classes too.
    EXPECT_THROW(registry2::read_string(values, L"Missing"), registry2::generic);
    EXPECT_THROW(registry2::read_string(values, L"Dword"), std::exception);
}

TEST_F(registry2_test, names_and_texts_without_an_ansi_form) {
    registry2::key root;
    registry2::key values;
    registry2::open_local_machine(root);
    root.open_subkey(test_key, values);
    // The message cannot be built, so the conversion's error comes instead.
    EXPECT_EQ(what_of<tessel::unicode::unmappable_character>(
                  [&] { registry2::read_string(values, L"\u540d\u524d"); }),
              "unicode.unmappable_character[]");
    EXPECT_EQ(registry2::read_string(values, L"NotLatin"), L"\u0394\u03b1");
    EXPECT_THROW(registry2::read_string_narrow(values, L"NotLatin"), tessel::unicode::unmappable_character);
}

TEST_F(registry2_test, key_errors_and_closing) {
    registry2::key root;
    registry2::open_local_machine(root);
    registry2::key missing;
    EXPECT_EQ(what_of<registry2::key_error>([&] { root.open_subkey(L"SOFTWARE\\Lindhale\\Nowhere", missing); }),
              "registry2.key_error[RegOpenKeyEx() failed: key \"SOFTWARE\\Lindhale\\Nowhere\" (2)]");
    EXPECT_EQ(missing.handle(), nullptr);

    // The handle of a destroyed key is closed.
    HKEY handle = nullptr;
    {
        registry2::key values;
        root.open_subkey(test_key, values);
        handle = values.handle();
        ASSERT_NE(handle, nullptr);
    }
    EXPECT_EQ(RegCloseKey(handle), ERROR_INVALID_HANDLE);

    // The root's handle prints as a signed 32-bit number.
    std::ofstream(hive_, std::ios::trunc) << "not a hive";
    registry2::key broken;
    EXPECT_EQ(what_of<registry2::key_error>([&] { registry2::open_local_machine(broken); }),
              "registry2.key_error[RegOpenKeyEx() failed: handle -2147483646 (1009)]");
}

TEST_F(registry2_test, read_only_hive_opens_read_only_without_error) {
    ASSERT_EQ(chmod(hive_.c_str(), 0444), 0);
    registry2::key root;
    registry2::key values;
    registry2::open_local_machine(root);
    root.open_subkey(test_key, values);
    EXPECT_EQ(registry2::read_string(values, L"NoTerminator"), L"ab");
    HKEY probe = nullptr;
    EXPECT_EQ(RegOpenKeyExW(values.handle(), nullptr, 0, KEY_READ | KEY_WRITE, &probe), ERROR_ACCESS_DENIED);
}

}  // namespace
