// What the POSIX layer's named mutexes do beyond the Win32 contract
// (tests/win32): one namespace, lock files for names of any characters,
// access lists it refuses.

#include "platform/win32.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace {

const DWORD sentinel = 0xdeadbeef;

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

}  // namespace
