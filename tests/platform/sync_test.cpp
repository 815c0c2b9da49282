// What the POSIX layer's named mutexes do beyond the Win32 contract
// (tests/win32): one namespace, lock files for names of any characters,
// access lists it refuses, lock files another account prepared.

#include "platform/win32.h"
#include "tests/support/other_account.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace {

using qv_test::sentinel;

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class sync : public testing::Test {
protected:
    // Starts the mutex holder helper; returns its pid.
    pid_t start_holder(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QV_MUTEX_HOLDER);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, QV_MUTEX_HOLDER, nullptr, nullptr, argv.data(), environ), 0);
        return pid;
    }

    int holder_exit_code(pid_t pid) {
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run_holder(const std::vector<std::string>& arguments) { return holder_exit_code(start_holder(arguments)); }

    qv_test::test_folder folder;
    qv_test::scoped_environment mutex_dir{"QV_MUTEX_DIR", folder / "mutex"};
};

TEST_F(sync, one_namespace_and_names_of_any_characters) {
    SetLastError(sentinel);
    HANDLE first = CreateMutexA(nullptr, FALSE, "Global\\one");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Both namespaces are the one machine namespace here.
    HANDLE second = CreateMutexA(nullptr, FALSE, "Local\\one");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE opened = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "one");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "Global\\a\\b"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    // Odd characters and long names get lock files too.
    HANDLE odd = CreateMutexA(nullptr, FALSE, "../log-Z:_tmp_x y%");
    EXPECT_NE(odd, nullptr);
    HANDLE long_a = CreateMutexA(nullptr, FALSE, (std::string(250, 'n') + "a").c_str());
    HANDLE long_b = CreateMutexA(nullptr, FALSE, (std::string(250, 'n') + "b").c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // the hash keeps them apart
    EXPECT_EQ(WaitForSingleObject(long_a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(run_holder({"try", std::string(250, 'n') + "b"}), 0);
    for (HANDLE handle : {first, second, opened, odd, long_a, long_b}) EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(sync, an_access_list_cannot_be_honoured) {
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    int access_list = 0;
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &access_list, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
    SetLastError(sentinel);
    EXPECT_EQ(CreateMutexA(&attributes, FALSE, "restricted"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

// Another account prepares the lock folder or files before root uses a name,
// as any user can in /tmp: root refuses what it cannot trust and changes no
// file through it.
class sync_against_other_account : public sync {
protected:
    void SetUp() override {
        if (!qv_test::can_play_other_account()) GTEST_SKIP() << "only root can play another account";
        ASSERT_EQ(chmod(folder.path().c_str(), 01777), 0);  // shared as /tmp is
    }

    // CreateMutexA's last error; a mutex it returns is taken and let go as the launcher does.
    DWORD use(const char* name) {
        SetLastError(sentinel);
        HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
        const DWORD error = GetLastError();
        if (mutex != nullptr) {
            EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
            EXPECT_TRUE(ReleaseMutex(mutex) && CloseHandle(mutex));
        }
        return error;
    }

    const std::string lock_folder = folder / "mutex";
};

TEST_F(sync_against_other_account, a_lock_folder_others_can_change_is_refused) {
    // Theirs whatever its mode, or root's and writable by others without the sticky bit.
    for (const auto& [theirs, mode] :
         {std::pair(true, 0755), {true, 0777}, {true, 01777}, {false, 0777}, {false, 0770}}) {
        const auto make = [&, mode = mode] {
            return mkdir(lock_folder.c_str(), 0) == 0 && !chmod(lock_folder.c_str(), mode);
        };
        ASSERT_TRUE(theirs ? qv_test::as_other_account(make) : make());
        EXPECT_EQ(use("guard"), DWORD(ERROR_ACCESS_DENIED)) << std::oct << mode;
        SetLastError(sentinel);
        EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "guard"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(mode_of(lock_folder), mode_t(mode));
        ASSERT_EQ(rmdir(lock_folder.c_str()), 0);  // still empty
    }
    // Or their link to a folder of root's.
    ASSERT_EQ(mkdir((folder / "private").c_str(), 0700), 0);
    ASSERT_TRUE(qv_test::as_other_account([&] { return !symlink((folder / "private").c_str(), lock_folder.c_str()); }));
    EXPECT_EQ(use("guard"), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(qv_test::folder_entries(folder / "private").empty());
}

TEST_F(sync_against_other_account, lock_files_that_are_links_or_not_regular_are_refused) {
    EXPECT_EQ(use("first"), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(mode_of(lock_folder), mode_t(01777));  // made by the layer: root's and sticky
    const std::string victims[] = {folder / "v1", folder / "v2", folder / "v3", folder / "v4"};
    for (const std::string& victim : victims) {
        qv_test::write_file(victim, "root's");
        ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    }
    const std::string missing = folder / "made-through-a-link", at = lock_folder + "/";
    ASSERT_TRUE(qv_test::as_other_account([&] {
        return !symlink(victims[0].c_str(), (at + "symbolic-ref.ref").c_str()) &&
               !symlink(victims[1].c_str(), (at + "symbolic-own.own").c_str()) &&
               !symlink(missing.c_str(), (at + "dangling.own").c_str()) && !mkfifo((at + "fifo.own").c_str(), 0666);
    }));
    // They may not hard-link root's files; root's own links stand for any file with a second name.
    ASSERT_EQ(link(victims[2].c_str(), (at + "hard-ref.ref").c_str()), 0);
    ASSERT_EQ(link(victims[3].c_str(), (at + "hard-own.own").c_str()), 0);
    for (const char* name : {"symbolic-ref", "symbolic-own", "dangling", "fifo", "hard-ref", "hard-own"})
        EXPECT_EQ(use(name), DWORD(ERROR_ACCESS_DENIED)) << name;
    for (const std::string& victim : victims)
        EXPECT_TRUE(qv_test::read_file(victim) == "root's" && mode_of(victim) == 0600) << victim;
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST_F(sync_against_other_account, their_lock_files_lock_but_are_left_as_they_are) {
    EXPECT_EQ(use("first"), DWORD(ERROR_SUCCESS));
    const std::string files[] = {lock_folder + "/theirs.own", lock_folder + "/theirs.ref"};
    ASSERT_TRUE(qv_test::as_other_account([&] {
        for (const std::string& file : files) {
            const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0 || write(fd, "1", 1) != 1 || close(fd) != 0) return false;  // "1": one of theirs died holding it
        }
        return true;
    }));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "theirs");
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // their marker is not read
    EXPECT_EQ(run_holder({"try", "theirs"}), 2);  // their file still locks
    EXPECT_TRUE(ReleaseMutex(mutex) && CloseHandle(mutex));
    for (const std::string& file : files) EXPECT_TRUE(qv_test::read_file(file) == "1" && mode_of(file) == 0644) << file;
}

}  // namespace
