// Another local account against a package run by root: it may write the
// shared temporary directory (sticky, as /tmp), the folder the package was
// downloaded to and the mutex folder, and tries to make root change a file
// of root's, run its own installer, or stall the run. No victim may change
// and every run must end with the installer's exit code (or 1 where a
// name it needs was refused).

#include "archive/writer.h"
#include "platform/win32.h"
#include "tests/hardening/hardening.h"
#include "tests/support/other_account.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <thread>

namespace {

using qv_test::as_other_account;

class other_account : public testing::Test {
protected:
    void SetUp() override {
        if (!qv_test::can_play_other_account()) GTEST_SKIP() << "only root can play another account";
        chmod(box.root().c_str(), 0755);
        package = box.build_package(e2e::package_plan::example());
        victim = box.path("victim");
        qv_test::write_file(victim, "root's own");
        chmod(victim.c_str(), 0600);
    }

    // A temporary directory like /tmp: everyone may add names, the sticky
    // bit keeps them from moving others' names.
    std::string shared_folder(mode_t mode = 01777) {
        const std::string folder = box.fresh_folder("shared");
        chmod(folder.c_str(), mode);
        return folder;
    }

    e2e::run_result run(const std::string& tmpdir, e2e::run_options options = e2e::run_options("/s")) {
        options.tmpdir = tmpdir;
        e2e::run_result result = box.start(package, options).finish(40);
        EXPECT_EQ(result.signal, 0) << result.standard_error;
        return result;
    }

    void expect_installed(const e2e::run_result& result) {
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        ASSERT_TRUE(result.record());
        EXPECT_NE(result.record()->command_line.find("PARTNERID=5"), std::string::npos);
    }

    void expect_victim_intact(const std::string& file, const std::string& content, mode_t mode) {
        struct stat status;
        ASSERT_EQ(lstat(file.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, mode) << file;
        EXPECT_EQ(qv_test::read_file(file), content) << file;
    }
    void expect_victim_intact() { expect_victim_intact(victim, "root's own", 0600); }

    e2e::sandbox box;
    std::string package;
    std::string victim;
};

TEST_F(other_account, log_names_made_in_advance_are_not_written_through) {
    {
        SCOPED_TRACE("the run log and the installer log as links to root's files");
        const std::string tmp = shared_folder();
        const std::string read_only = box.path("read-only victim");
        qv_test::write_file(read_only, "root's too");
        chmod(read_only.c_str(), 0400);
        ASSERT_TRUE(as_other_account([&] {
            return symlink(victim.c_str(), (tmp + "/Reader.log.txt").c_str()) == 0 &&
                   symlink(read_only.c_str(), (tmp + "/QVPRO_msi.log.txt").c_str()) == 0;
        }));
        expect_installed(run(tmp));
        expect_victim_intact();
        expect_victim_intact(read_only, "root's too", 0400);
    }
    {
        SCOPED_TRACE("a link to a file of 4 GiB - 1 bytes, which a rotation would cut");
        const std::string tmp = shared_folder();
        const std::string large = box.path("large victim");
        qv_test::write_file(large, "x");
        ASSERT_EQ(truncate(large.c_str(), 0xFFFFFFFFll), 0);
        ASSERT_TRUE(as_other_account([&] { return symlink(large.c_str(), (tmp + "/Reader.log.txt").c_str()) == 0; }));
        expect_installed(run(tmp));
        struct stat status;
        ASSERT_EQ(stat(large.c_str(), &status), 0);
        EXPECT_EQ(status.st_size, 0xFFFFFFFFll);
    }
    {
        SCOPED_TRACE("a log file the other account made, to read the launch lines from");
        const std::string tmp = shared_folder();
        ASSERT_TRUE(as_other_account([&] {
            qv_test::write_file(tmp + "/Reader.log.txt", "");
            return chmod((tmp + "/Reader.log.txt").c_str(), 0666) == 0;
        }));
        expect_installed(run(tmp, e2e::run_options("/s /v\"PASSWORD=secret\"")));
        EXPECT_EQ(qv_test::read_file(tmp + "/Reader.log.txt"), "");
    }
    {
        SCOPED_TRACE("the log root makes, in a folder everyone shares");
        const std::string tmp = shared_folder();
        expect_installed(run(tmp, e2e::run_options("/s /v\"PASSWORD=secret\"")));
        EXPECT_NE(qv_test::read_file(tmp + "/Reader.log.txt").find("PASSWORD=secret"), std::string::npos);
        EXPECT_FALSE(as_other_account([&] { return access((tmp + "/Reader.log.txt").c_str(), R_OK) == 0; }));
    }
}

TEST_F(other_account, working_folder_names_made_in_advance_are_left_alone) {
    const std::string tmp = shared_folder();
    const long long now = std::time(nullptr);
    ASSERT_TRUE(as_other_account([&] {
        bool made = true;
        for (long long second = now; second < now + 10; ++second) {
            const std::string folder = tmp + "/QV" + std::to_string(second);
            made = made && mkdir(folder.c_str(), 0777) == 0 && mkdir((folder + "/.keep").c_str(), 0777) == 0 &&
                   mkdir((folder + "/sub").c_str(), 0777) == 0;
            qv_test::write_file(folder + "/locked", "theirs");
            made = made && chmod((folder + "/locked").c_str(), 0444) == 0;
        }
        return made;
    }));
    expect_installed(run(tmp));
    for (long long second = now; second < now + 10; ++second) {
        const std::string folder = tmp + "/QV" + std::to_string(second);
        EXPECT_EQ(qv_test::folder_entries(folder), (std::set<std::string>{".keep", "locked", "sub"})) << folder;
    }
}

TEST_F(other_account, the_working_folder_stays_in_place_while_the_installer_runs) {
    for (const mode_t mode : {01777, 0777}) {
        SCOPED_TRACE(mode);
        const std::string tmp = shared_folder(mode);
        e2e::run_options options("/s");
        options.tmpdir = tmp;
        options.release = box.path("release" + std::to_string(mode));
        e2e::running_package running = box.start(package, options);
        ASSERT_TRUE(e2e::eventually([&] { return running.partial().record().has_value(); }));
        const std::string program = running.partial().record()->program;
        const std::string folder = program.substr(0, program.rfind('/'));
        // Where others may move what is not theirs, no folder is made at all.
        if (mode == 0777) {
            EXPECT_NE(folder.compare(0, tmp.size() + 1, tmp + "/"), 0) << folder;
        }
        EXPECT_FALSE(as_other_account([&] {
            return rename(folder.c_str(), (tmp + "/moved").c_str()) == 0 ||
                   mkdir((folder + "/planted").c_str(), 0777) == 0;
        }));
        qv_test::write_file(*options.release, "");
        EXPECT_EQ(running.finish().exit_code, 0);
        EXPECT_EQ(qv_test::folder_entries(tmp).count("moved"), 0u);
    }
}

TEST_F(other_account, a_package_replaced_before_it_is_read_is_not_read) {
    const std::string downloads = box.fresh_folder("downloads");
    chmod(downloads.c_str(), 0777);
    const std::string path = downloads + "/package.exe";
    ASSERT_EQ(rename(package.c_str(), path.c_str()), 0);
    const std::string impostor =
        hardening::build_package(box, "impostor.exe", hardening::add_marking_installer);
    chmod(impostor.c_str(), 0755);

    // Stopped before its first instruction, the package loses its name to
    // another's: once removed, the system names it "package.exe (deleted)",
    // and the other account has put its own package under both names.
    e2e::run_options options("/s");
    options.stopped_at_start = true;
    e2e::running_package running = box.start(path, options);
    ASSERT_TRUE(as_other_account([&] {
        return unlink(path.c_str()) == 0 && std::system(("cp '" + impostor + "' '" + path + "'").c_str()) == 0 &&
               std::system(("cp '" + impostor + "' '" + path + " (deleted)'").c_str()) == 0;
    }));
    running.resume();
    expect_installed(running.finish());
}

TEST_F(other_account, a_mutex_folder_of_theirs_changes_no_file_of_root) {
    // As /tmp/.qv-mutex, which any user may make first.
    const std::string mutexes = shared_folder() + "/.qv-mutex";
    ASSERT_TRUE(as_other_account([&] {
        return mkdir(mutexes.c_str(), 0777) == 0 &&
               symlink(victim.c_str(), (mutexes + "/Quorvane.Installation.own").c_str()) == 0 &&
               symlink(victim.c_str(), (mutexes + "/Quorvane.Installation.ref").c_str()) == 0;
    }));
    e2e::run_options options("/s");
    options.environment["QV_MUTEX_DIR"] = mutexes;
    const e2e::run_result result = run(shared_folder(), options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_FALSE(result.record());
    expect_victim_intact();
}

TEST_F(other_account, a_log_lock_held_for_ever_delays_the_run_only_briefly) {
    const std::string mutexes = box.fresh_folder("mutexes");
    chmod(mutexes.c_str(), 01777);
    const std::string tmp = shared_folder();
    // The log's mutex: "log-" and its base, the temporary directory and
    // "Reader", with every backslash an underscore.
    std::string name = "Global\\log-" + e2e::dos_path(tmp) + "\\Reader";
    for (size_t at = name.find('\\', 7); at != std::string::npos; at = name.find('\\', at)) name[at] = '_';
    const std::string held = tmp + "/held";
    qv_test::other_account_process holder([&] {
        setenv("QV_MUTEX_DIR", mutexes.c_str(), 1);
        const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
        if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return false;
        qv_test::write_file(held, "");
        pause();
        return true;
    });
    ASSERT_TRUE(e2e::eventually([&] { return access(held.c_str(), F_OK) == 0; }));
    e2e::run_options options("/s");
    options.environment["QV_MUTEX_DIR"] = mutexes;
    const auto start = std::chrono::steady_clock::now();
    expect_installed(run(tmp, options));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(qv_test::read_file(tmp + "/Reader.log.txt"), "\xEF\xBB\xBF");
    EXPECT_TRUE(holder.stop());
}

}  // namespace
