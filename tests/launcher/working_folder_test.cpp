// The working folder: temporary directory, preparation with its fallback,
// parent directory and the removal of a folder tree.

#include "launcher/run_state.h"
#include "launcher/working_folder.h"
#include "platform/win32.h"
#include "tessel/handle.h"
#include "tests/support/ansi_code_page.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <regex>
#include <set>

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

unsigned mode_of(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : ~0u;
}

class working_folder : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(original_, sizeof(original_)), nullptr);
        launcher::silent_mode = false;
    }
    void TearDown() override {
        ASSERT_EQ(chdir(original_), 0);
        launcher::silent_mode = false;
    }

    // A TMPDIR below the test folder that no 260-character buffer holds.
    std::string overlong_temp() {
        std::string path = folder.path();
        while (path.size() < MAX_PATH) path += "/" + std::string(60, 't');
        return path;
    }

    std::string current_directory() {
        char buffer[4096];
        return getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "";
    }

    qv_test::test_folder folder;
    char original_[4096];
};

TEST_F(working_folder, temp_directory_is_empty_when_it_does_not_fit) {
    qv_test::scoped_environment tmpdir("TMPDIR", folder.path());
    EXPECT_EQ(launcher::temp_directory(), folder.dos() + "\\");
    qv_test::scoped_environment long_tmpdir("TMPDIR", overlong_temp());
    EXPECT_EQ(launcher::temp_directory(), "");
}

TEST_F(working_folder, prepared_below_the_temporary_directory_and_made_current) {
    qv_test::scoped_environment tmpdir("TMPDIR", folder.path());
    const long long before = std::time(nullptr);
    testing::internal::CaptureStderr();
    const tessel::unique_handle hold(launcher::prepare_working_folder());
    ASSERT_TRUE(hold.valid());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const long long after = std::time(nullptr);

    const std::string& made = launcher::working_folder;
    const std::string prefix = folder.dos() + "\\QV";
    ASSERT_EQ(made.compare(0, prefix.size(), prefix), 0) << made;
    ASSERT_EQ(made.back(), '\\');
    const long long seconds = std::stoll(made.substr(prefix.size(), made.size() - prefix.size() - 1));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_EQ(current_directory(), folder / ("QV" + std::to_string(seconds)));
    EXPECT_EQ(launcher::parent_directory(), folder.dos());

    EXPECT_EQ(mode_of(current_directory()), 0700u);
}

// What stands at the folder's name already is someone else's: it is left
// as it is, and the next name is taken. The folder made is held: nobody
// can put another in its place, and it is removed through that hold.
TEST_F(working_folder, entries_at_its_names_are_left_alone_and_the_folder_is_held) {
    qv_test::scoped_environment tmpdir("TMPDIR", folder.path());
    mkdir((folder / "outside").c_str(), 0777);
    qv_test::write_file(folder / "outside/kept", "x");
    const long long now = std::time(nullptr);
    for (long long second = now; second < now + 3; ++second) {
        const std::string name = folder / ("QV" + std::to_string(second));
        ASSERT_EQ(symlink((folder / "outside").c_str(), name.c_str()), 0);
        ASSERT_EQ(mkdir((name + "_1").c_str(), 0777), 0);
        qv_test::write_file(name + "_1/locked", "x");
        ASSERT_EQ(chmod((name + "_1/locked").c_str(), 0444), 0);
    }
    tessel::unique_handle first(launcher::prepare_working_folder());
    ASSERT_TRUE(first.valid());
    const std::string first_folder = launcher::working_folder;
    EXPECT_EQ(first_folder.substr(first_folder.size() - 3), "_2\\") << first_folder;
    const std::string first_path = current_directory();
    EXPECT_EQ(mode_of(first_path), 0700u);
    EXPECT_EQ(qv_test::folder_entries(first_path), std::set<std::string>{});
    qv_test::write_file(first_path + "/setup.exe", "x");

    // A second run in the same second gets a folder of its own.
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    tessel::unique_handle second(launcher::prepare_working_folder());
    ASSERT_TRUE(second.valid());
    EXPECT_NE(launcher::working_folder, first_folder);
    const std::string second_path = current_directory();
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    EXPECT_TRUE(launcher::remove_working_folder(second.release()));
    EXPECT_FALSE(exists(second_path));

    // Removed through its hold, with what it holds; the others' entries stay.
    launcher::working_folder = first_folder;
    EXPECT_TRUE(launcher::remove_working_folder(first.release()));
    for (long long at = now; at < now + 3; ++at) {
        const std::string name = folder / ("QV" + std::to_string(at));
        EXPECT_EQ(mode_of(name + "_1/locked"), 0444u);
        struct stat link;
        EXPECT_TRUE(lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode));
    }
    EXPECT_TRUE(exists(folder / "outside/kept"));
    EXPECT_FALSE(exists(first_path));
}

TEST_F(working_folder, falls_back_to_c_temp_with_a_message_unless_silent) {
    qv_test::scoped_environment long_tmpdir("TMPDIR", overlong_temp());
    qv_test::scoped_environment drive("QV_DRIVE_C", folder.path());
    testing::internal::CaptureStderr();
    tessel::unique_handle hold(launcher::prepare_working_folder());
    ASSERT_TRUE(hold.valid());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MessageBoxA caption=\"GetTempPath failed\" text=\"Unable to get Temporary Directory\"\n");
    EXPECT_EQ(launcher::working_folder.compare(0, 10, "C:\\Temp\\QV"), 0) << launcher::working_folder;
    EXPECT_EQ(launcher::parent_directory(), "C:\\Temp");
    EXPECT_TRUE(exists(folder / "Temp"));
    EXPECT_EQ(current_directory().compare(0, (folder / "Temp/QV").size(), folder / "Temp/QV"), 0);

    launcher::silent_mode = true;
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    testing::internal::CaptureStderr();
    hold.reset(launcher::prepare_working_folder());
    EXPECT_TRUE(hold.valid());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A name the code page cannot read (a lead byte without its trail) has no
// narrow form, and here no short one: the box names the path and why.
TEST_F(working_folder, a_temp_path_without_a_narrow_form_is_named_and_passed_over) {
    ansi_code_page japanese("932");
    ASSERT_TRUE(japanese.in_effect());
    qv_test::scoped_environment tmpdir("TMPDIR", folder / "a\x81 b");
    qv_test::scoped_environment drive("QV_DRIVE_C", folder.path());
    testing::internal::CaptureStderr();
    tessel::unique_handle hold(launcher::prepare_working_folder());
    EXPECT_TRUE(hold.valid());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MessageBoxA caption=\"GetTempPath failed\" text=\"Unable to get Temporary Directory\\r\\nZ:" +
                  std::regex_replace(folder.path(), std::regex("/"), "\\\\") +
                  "\\\\a\x81 b\\\\\\r\\nThe system's code page cannot spell this path, and it has no short name.\"\n");
    EXPECT_EQ(launcher::parent_directory(), "C:\\Temp");
}

TEST_F(working_folder, fails_when_the_folder_cannot_be_made_current) {
    qv_test::scoped_environment long_tmpdir("TMPDIR", overlong_temp());
    qv_test::scoped_environment unmapped("QV_DRIVE_C", std::nullopt);
    launcher::silent_mode = true;
    EXPECT_EQ(launcher::prepare_working_folder(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(current_directory(), original_);
}

TEST_F(working_folder, parent_directory_cuts_before_the_last_component) {
    launcher::working_folder = "C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100\\";
    EXPECT_EQ(launcher::parent_directory(), "C:\\Users\\u\\AppData\\Local\\Temp");
    launcher::working_folder = "Z:\\QV1\\";
    EXPECT_EQ(launcher::parent_directory(), "Z:");
}

TEST_F(working_folder, removal_keeps_read_only_files_and_dot_folders) {
    const std::string root = folder / "QV1";
    for (const char* sub : {"", "/sub", "/sub/deeper", "/.cache", "/keep"}) mkdir((root + sub).c_str(), 0777);
    for (const char* file : {"/setup.exe", "/sub/a", "/sub/deeper/b", "/.cache/c", "/keep/locked", "/.hidden"})
        qv_test::write_file(root + file, "x");
    ASSERT_EQ(chmod((root + "/keep/locked").c_str(), 0444), 0);

    EXPECT_FALSE(launcher::remove_folder_tree(folder.dos() + "\\QV1"));
    EXPECT_FALSE(exists(root + "/setup.exe"));
    EXPECT_FALSE(exists(root + "/sub"));
    EXPECT_FALSE(exists(root + "/.hidden"));  // a dot file is a file
    EXPECT_TRUE(exists(root + "/.cache/c"));
    EXPECT_TRUE(exists(root + "/keep/locked"));

    ASSERT_EQ(chmod((root + "/keep/locked").c_str(), 0644), 0);
    EXPECT_FALSE(launcher::remove_folder_tree(folder.dos() + "\\QV1\\"));  // .cache still there
    EXPECT_FALSE(exists(root + "/keep"));
    ASSERT_EQ(rename((root + "/.cache").c_str(), (root + "/cache").c_str()), 0);
    EXPECT_TRUE(launcher::remove_folder_tree(folder.dos() + "/QV1/"));
    EXPECT_FALSE(exists(root));
    EXPECT_FALSE(launcher::remove_folder_tree(folder.dos() + "\\QV1"));
}

TEST_F(working_folder, removal_deletes_links_not_their_targets) {
    const std::string root = folder / "QV2";
    mkdir(root.c_str(), 0777);
    mkdir((folder / "outside").c_str(), 0777);
    qv_test::write_file(folder / "outside/precious", "x");
    ASSERT_EQ(symlink((folder / "outside").c_str(), (root + "/link").c_str()), 0);
    ASSERT_EQ(symlink((folder / "outside/precious").c_str(), (root + "/file-link").c_str()), 0);
    EXPECT_TRUE(launcher::remove_folder_tree(folder.dos() + "\\QV2"));
    EXPECT_TRUE(exists(folder / "outside/precious"));
    EXPECT_FALSE(exists(root));
}

}  // namespace
