// The dispatcher, the front-end and the proxy, observed through listeners
// that record what they receive.

#include "platform/win32.h"
#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/log/log.h"
#include "tessel/log/proxy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <regex>
#include <stdexcept>
#include <vector>

namespace {

struct received {
    std::string name;
    int level;
    std::string prefix;
    std::string text;
};

// Shared by the listeners of one test, so the visiting order is visible.
using journal = std::vector<received>;

class recorder : public tessel::log::listener {
public:
    recorder(journal* lines, std::string name, bool* deleted = nullptr)
        : lines_(lines), name_(std::move(name)), deleted_(deleted) {}
    ~recorder() override {
        if (deleted_ != nullptr) *deleted_ = true;
    }
    void write(int level, const std::string& prefix, const std::string& text) override {
        lines_->push_back({name_, level, prefix, text});
    }

private:
    journal* lines_;
    std::string name_;
    bool* deleted_;
};

class thrower : public tessel::log::listener {
public:
    explicit thrower(journal* lines) : lines_(lines) {}
    void write(int level, const std::string& prefix, const std::string& text) override {
        lines_->push_back({"thrower", level, prefix, text});
        throw std::runtime_error("listener failed");
    }

private:
    journal* lines_;
};

class front_end : public ::testing::Test {
protected:
    void TearDown() override { tessel::log::shutdown(); }
};

std::string letter_of(const std::string& prefix) { return prefix.substr(20, 1); }

}  // namespace

TEST(dispatcher, stamps_each_level_with_its_letter) {
    journal lines;
    tessel::log::dispatcher log;
    log.add(new recorder(&lines, "r"));
    SYSTEMTIME before;
    GetLocalTime(&before);
    for (int level = 0; level <= 4; ++level) log.write(level, L"text");
    SYSTEMTIME after;
    GetLocalTime(&after);

    ASSERT_EQ(lines.size(), 5u);
    const std::regex stamp(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d .  )");
    const char letters[] = "# +!>";
    const std::string low = tessel::format("%.4d/%.2d/%.2d %.2d:%.2d:%.2d", int(before.wYear), int(before.wMonth),
                                           int(before.wDay), int(before.wHour), int(before.wMinute),
                                           int(before.wSecond));
    const std::string high = tessel::format("%.4d/%.2d/%.2d %.2d:%.2d:%.2d", int(after.wYear), int(after.wMonth),
                                            int(after.wDay), int(after.wHour), int(after.wMinute),
                                            int(after.wSecond));
    for (int level = 0; level <= 4; ++level) {
        const received& line = lines[level];
        EXPECT_TRUE(std::regex_match(line.prefix, stamp)) << line.prefix;
        EXPECT_EQ(letter_of(line.prefix), std::string(1, letters[level]));
        EXPECT_EQ(line.level, level);
        EXPECT_EQ(line.text, "text");
        EXPECT_GE(line.prefix.substr(0, 19), low);
        EXPECT_LE(line.prefix.substr(0, 19), high);
    }
    EXPECT_THROW(log.write(6, L"x"), tessel::log::generic);
    EXPECT_THROW(log.write(-1, L"x"), tessel::log::generic);
}

TEST(dispatcher, visits_selected_listeners_from_the_last_to_the_first) {
    journal lines;
    tessel::log::dispatcher log;
    log.add(new recorder(&lines, "two-a"), 2);
    log.add(new recorder(&lines, "zero"));
    log.add(new recorder(&lines, "four"), 4);
    log.add(new recorder(&lines, "two-b"), 2);
    log.add(nullptr);

    log.write(2, L"x");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].name, "two-b");
    EXPECT_EQ(lines[1].name, "two-a");
    EXPECT_EQ(lines[2].name, "zero");

    lines.clear();
    log.write(1, L"x");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, "zero");
}

TEST(dispatcher, level_five_describes_the_exception_being_handled) {
    journal lines;
    tessel::log::dispatcher log;
    log.add(new recorder(&lines, "r"));
    try {
        throw tessel::exception(std::string("disk on fire"));
    } catch (const tessel::exception&) {
        log.write(5, L"copy");
    }
    try {
        throw tessel::log::generic("bad");
    } catch (...) {
        log.print(5, L"step %d", 7);
    }
    try {
        throw tessel::exception_w(L"wide %s", L"caf\u00e9");
    } catch (const std::exception&) {
        log.write(5, L"w");
    }
    try {
        throw 42;
    } catch (int) {
        log.write(5, L"odd");
    }
    // Outside a handler there is nothing to describe; the line still goes out.
    log.write(5, L"plain");

    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].text, "copy exception: [disk on fire]");
    EXPECT_EQ(lines[1].text, "step 7 exception: log[bad]");
    EXPECT_EQ(lines[2].text, "w Exception: [wide caf\xC3\xA9]");
    EXPECT_EQ(lines[3].text, "odd unknown exception caught");
    EXPECT_EQ(lines[4].text, "plain");
    for (const received& line : lines) {
        EXPECT_EQ(line.level, 3);
        EXPECT_EQ(letter_of(line.prefix), "@");
    }
}

TEST(dispatcher, narrow_text_falls_back_from_the_ansi_code_page_to_utf8) {
    journal lines;
    tessel::log::dispatcher log;
    log.add(new recorder(&lines, "r"));
    // 1252 gives every byte a character, as on Windows: UTF-8 input is
    // taken as 1252.
    log.write(std::string("caf\xE9 \xC3\xA9"));
    // A double-byte code page rejects a lead byte without its trail byte,
    // which UTF-8 text easily ends in.
    const char* saved = std::getenv("QV_ACP");
    const std::string saved_acp = saved != nullptr ? saved : "";
    setenv("QV_ACP", "932", 1);
    log.write(std::string("\xE3\x81\x82"));  // U+3042 in UTF-8: lead byte 0x82 left over
    if (saved != nullptr)
        setenv("QV_ACP", saved_acp.c_str(), 1);
    else
        unsetenv("QV_ACP");

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "caf\xC3\xA9 \xC3\x83\xC2\xA9");
    EXPECT_EQ(lines[1].text, "\xE3\x81\x82");
    EXPECT_EQ(lines[1].level, 1);
    EXPECT_EQ(letter_of(lines[1].prefix), " ");
}

TEST_F(front_end, lines_reach_only_attached_listeners) {
    journal lines;
    bool deleted = false;
    tessel::log::write(std::string("before attach"));
    tessel::log::attach(new recorder(&lines, "r", &deleted));
    tessel::log::print("File: %s", "C:\\x\\setup.exe");
    tessel::log::wprint(L"%s", L"Quorvane \u00c9dition");
    tessel::log::print("");
    tessel::log::shutdown();
    EXPECT_TRUE(deleted);
    tessel::log::write(std::wstring(L"after shutdown"));
    tessel::log::shutdown();

    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "File: C:\\x\\setup.exe");
    EXPECT_EQ(lines[1].text, "Quorvane \xC3\x89" "dition");
    EXPECT_EQ(lines[2].text, "");
    for (const received& line : lines) EXPECT_EQ(line.level, 1);
}

TEST_F(front_end, a_throwing_listener_releases_both_locks) {
    journal lines;
    tessel::log::attach(new recorder(&lines, "first"));
    tessel::log::attach(new thrower(&lines));
    EXPECT_THROW(tessel::log::print("hello"), std::runtime_error);

    // The line was tried from the ANSI code page, then from UTF-8, then
    // replaced; the listener added first never got it.
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "hello");
    EXPECT_EQ(lines[1].text, "hello");
    EXPECT_EQ(lines[2].text, "tessel::log: unable to convert input to unicode");
    for (const received& line : lines) EXPECT_EQ(line.name, "thrower");

    // Both locks are re-entrant for this thread, so only another thread can
    // tell whether they were left held.
    auto other = std::async(std::launch::async, [] {
        EXPECT_THROW(tessel::log::write(std::wstring(L"from another thread")), std::runtime_error);
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    other.get();
}

TEST(proxy, forwards_tagged_lines_to_its_target) {
    journal lines;
    tessel::log::dispatcher target;
    target.add(new recorder(&lines, "target"));
    tessel::log::dispatcher source;
    source.add(new tessel::log::proxy(&target, "[child] "));
    source.write(2, L"x\u00e9");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "[child] x\xC3\xA9");
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(letter_of(lines[0].prefix), "+");
}
