// The file listener: the byte order mark, appending across opens, rotation
// with its numbered generations, and many processes sharing one file.

#include "platform/win32.h"
#include "tessel/format.h"
#include "tessel/log/errors.h"
#include "tessel/log/file.h"
#include "tessel/text.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string bom = "\xEF\xBB\xBF";

class log_file : public ::testing::Test {
protected:
    // The base as the system names it: a DOS path with backslashes.
    std::string base(const std::string& name = "Reader") const { return folder_.dos() + "\\" + name; }
    std::string posix(const std::string& file_name) const { return folder_ / file_name; }

    qv_test::test_folder folder_;
};

using qv_test::read_file;

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The texts of a log file that starts with exactly one byte order mark and
// holds only whole stamped lines; fails the test otherwise.
std::vector<std::string> texts_of(const std::string& path) {
    std::vector<std::string> texts;
    std::string content = read_file(path);
    EXPECT_EQ(content.compare(0, 3, bom), 0) << path;
    if (content.compare(0, 3, bom) != 0) return texts;
    content.erase(0, 3);
    const std::regex line(R"((\d{4}/\d\d/\d\d \d\d:\d\d:\d\d    )([^\r\n]*)\r\n)");
    auto it = std::sregex_iterator(content.begin(), content.end(), line);
    size_t consumed = 0;
    for (; it != std::sregex_iterator(); ++it) {
        if (static_cast<size_t>(it->position()) != consumed) break;
        texts.push_back((*it)[2]);
        consumed += static_cast<size_t>(it->length());
    }
    EXPECT_EQ(consumed, content.size()) << "torn or foreign bytes in " << path;
    return texts;
}

std::string stamp() { return "2026/12/08 04:03:49    "; }

}  // namespace

TEST_F(log_file, marks_a_new_file_once_and_appends_across_opens) {
    {
        tessel::log::file log(base());
        log.write(1, stamp(), "first");
    }
    {
        tessel::log::file log(base());
        log.write(1, stamp(), "second");
    }
    EXPECT_EQ(read_file(posix("Reader.log.txt")),
              bom + stamp() + "first\r\n" + stamp() + "second\r\n");

    // An existing file with content gets no mark; nothing is cut.
    std::ofstream(posix("Old.log.txt"), std::ios::binary) << "earlier run\r\n";
    {
        tessel::log::file log(base("Old"));
        log.write(1, stamp(), "new");
    }
    EXPECT_EQ(read_file(posix("Old.log.txt")), "earlier run\r\n" + stamp() + "new\r\n");
}

TEST_F(log_file, reports_a_file_that_cannot_be_opened) {
    try {
        tessel::log::file log(base("missing\\Reader"));
        FAIL() << "opened a log in a missing folder";
    } catch (const tessel::log::generic& error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("log[CreateFile failed: ", 0), 0u) << what;
        EXPECT_EQ(what.back(), ']');
    }
    EXPECT_FALSE(exists(posix("missing")));
}

// The folder may be another account's to write: a name made in advance is
// used only when it is a plain file of one name that belongs to us.
TEST_F(log_file, only_a_plain_file_of_ours_is_opened) {
    std::ofstream(posix("victim"), std::ios::binary) << "kept";
    ASSERT_EQ(symlink(posix("victim").c_str(), posix("Link.log.txt").c_str()), 0);
    ASSERT_EQ(link(posix("victim").c_str(), posix("Hard.log.txt").c_str()), 0);
    ASSERT_EQ(mkdir(posix("Folder.log.txt").c_str(), 0755), 0);
    std::vector<std::string> refused = {"Link", "Hard", "Folder"};
    if (geteuid() == 0) {
        std::ofstream(posix("Theirs.log.txt"), std::ios::binary) << "";
        ASSERT_EQ(chown(posix("Theirs.log.txt").c_str(), 65534, 65534), 0);
        refused.push_back("Theirs");
    }
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        EXPECT_THROW(tessel::log::file log(base(name)), tessel::log::generic);
    }
    EXPECT_EQ(read_file(posix("victim")), "kept");
    EXPECT_EQ(read_file(posix("Theirs.log.txt")), "");
}

// Another process's lock holds a line up for a while at most; after that
// the listener writes nothing more rather than hold up its process again.
TEST_F(log_file, a_lock_held_too_long_silences_the_listener) {
    const std::string name = "Global\\log-" + tessel::replace_all(base(), "\\", "_");
    std::atomic<bool> held(false), done(false);
    std::thread holder([&] {
        const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
        WaitForSingleObject(mutex, INFINITE);
        held = true;
        while (!done.load()) std::this_thread::yield();
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    while (!held.load()) std::this_thread::yield();
    {
        tessel::log::file log(base());
        log.set_lock_wait(50);
        const auto start = std::chrono::steady_clock::now();
        log.write(1, stamp(), "waits, then is dropped");
        log.write(1, stamp(), "dropped at once");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    done = true;
    holder.join();
    EXPECT_EQ(read_file(posix("Reader.log.txt")), bom);
}

// Past 4 GiB the whole size counts: the low 32 bits of 4 GiB + 9 bytes
// look like a small file.
TEST_F(log_file, a_file_past_4_gib_is_cut_at_the_limit) {
    {
        tessel::log::file log(base());
    }
    ASSERT_EQ(truncate(posix("Reader.log.txt").c_str(), (1ll << 32) + 9), 0);
    {
        tessel::log::file log(base());
        log.set_size_limit(1024);
        log.write(1, stamp(), "after the cut");
    }
    EXPECT_EQ(texts_of(posix("Reader.log.txt")), std::vector<std::string>{"after the cut"});
}

TEST_F(log_file, rotation_keeps_numbered_generations_oldest_first) {
    // The limit is reached by the mark and two lines: every third line rotates.
    const std::uint32_t line_size = static_cast<std::uint32_t>(stamp().size() + std::string("line 01\r\n").size());
    const std::uint32_t limit = 3 + 2 * line_size;
    for (std::uint32_t backups : {0u, 1u, 3u}) {
        SCOPED_TRACE(backups);
        const std::string name = tessel::format("B%u", backups);
        {
            tessel::log::file log(base(name));
            log.set_size_limit(limit);
            log.set_backups(backups);
            for (int n = 1; n <= 10; ++n) log.write(1, stamp(), tessel::format("line %.2d", n));
        }
        // Rotated before lines 3, 5, 7 and 9.
        EXPECT_EQ(texts_of(posix(name + ".log.txt")), (std::vector<std::string>{"line 09", "line 10"}));
        auto generation = [&](int index) { return posix(tessel::format("%s.%d.log.txt", name.c_str(), index)); };
        auto pair = [](int first) {
            return std::vector<std::string>{tessel::format("line %.2d", first), tessel::format("line %.2d", first + 1)};
        };
        if (backups == 0) {
            EXPECT_FALSE(exists(generation(1)));
        } else if (backups == 1) {
            EXPECT_EQ(texts_of(generation(1)), pair(7));
            EXPECT_FALSE(exists(generation(2)));
        } else {
            // Four rotations into three generations: the oldest copy was dropped.
            EXPECT_EQ(texts_of(generation(1)), pair(3));
            EXPECT_EQ(texts_of(generation(2)), pair(5));
            EXPECT_EQ(texts_of(generation(3)), pair(7));
            EXPECT_FALSE(exists(generation(4)));
        }
    }
}

TEST_F(log_file, rotation_that_cannot_copy_only_cuts_the_file) {
    // A generation that can be neither deleted nor replaced.
    ASSERT_EQ(mkdir(posix("Stuck.1.log.txt").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(posix("Stuck.1.log.txt/keep").c_str(), 0755), 0);
    tessel::log::file log(base("Stuck"));
    log.set_size_limit(4);
    log.set_backups(1);
    log.write(1, stamp(), "one");
    log.write(1, stamp(), "two");
    EXPECT_EQ(texts_of(posix("Stuck.log.txt")), std::vector<std::string>{"two"});
}

// Opening takes no lock: a log whose named mutex another thread holds opens
// at once, and its first line waits for the mutex instead.
TEST_F(log_file, opening_does_not_wait_for_the_lock) {
    const std::string name = "Global\\log-" + tessel::replace_all(base(), "\\", "_");
    std::atomic<int> stage(0);  // 1 held, 2 opened
    std::thread holder([&] {
        const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
        WaitForSingleObject(mutex, INFINITE);
        stage = 1;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (stage.load() != 2 && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    while (stage.load() != 1) std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    {
        tessel::log::file log(base());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        stage = 2;
        log.write(1, stamp(), "first");
    }
    holder.join();
    EXPECT_EQ(texts_of(posix("Reader.log.txt")), std::vector<std::string>{"first"});
}

TEST_F(log_file, processes_writing_at_once_lose_and_tear_no_line) {
    const int writers = 8;
    const int lines = 2000;
    std::vector<pid_t> children;
    for (int id = 0; id < writers; ++id) {
        const std::string setting = tessel::format("QV_LOG_TEST_WRITER=%s|%d|%d", base().c_str(), id, lines);
        std::vector<char*> env;
        for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
        env.push_back(const_cast<char*>(setting.c_str()));
        env.push_back(nullptr);
        char self[] = "/proc/self/exe";
        char* argv[] = {self, nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, env.data()), 0);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    const std::vector<std::string> texts = texts_of(posix("Reader.log.txt"));
    EXPECT_EQ(texts.size(), static_cast<size_t>(writers * lines));
    const std::regex text(R"(writer (\d) line (\d+) x{150})");
    std::map<int, int> next_line;
    for (const std::string& t : texts) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(t, match, text)) << t;
        const int id = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), next_line[id]++) << "writer " << id;
    }
    for (int id = 0; id < writers; ++id) EXPECT_EQ(next_line[id], lines) << "writer " << id;
}
