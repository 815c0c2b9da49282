// The single-instance guard between packages: one installer at a time on
// the machine, and a holder that died does not block the next package.

#include "tests/e2e/e2e.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace {

using e2e::message_box;

const message_box already_running{"Already Running",
                                  "Another installation is already running or in the process of starting up.\n"
                                  "Please wait until the other installation has completed before trying again."};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class guard : public testing::Test {
protected:
    e2e::sandbox box;
    std::string package = box.build_package(e2e::package_plan::example());
};

TEST_F(guard, a_second_package_stops_while_the_first_installer_runs) {
    e2e::run_options first_options;
    first_options.release = box.path("release");
    e2e::running_package first = box.start(package, first_options);
    ASSERT_TRUE(e2e::eventually([&] { return exists(first.partial().record_path); }));

    const e2e::run_result second = box.run(package);
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_EQ(second.boxes, std::vector<message_box>{already_running});
    EXPECT_TRUE(second.working_folders().empty());
    EXPECT_FALSE(second.record());
    const e2e::run_result silent = box.run(package, {"/s"});
    EXPECT_EQ(silent.exit_code, 1);
    EXPECT_EQ(silent.standard_error, "");

    std::ofstream(*first_options.release) << "";
    const e2e::run_result finished = first.finish();
    EXPECT_EQ(finished.exit_code, 0);
    EXPECT_TRUE(finished.working_folders().empty());
    EXPECT_EQ(box.run(package).exit_code, 0);  // free again
}

TEST_F(guard, a_killed_holder_does_not_block_the_next_package) {
    e2e::run_options first_options;
    first_options.release = box.path("release");
    e2e::running_package first = box.start(package, first_options);
    ASSERT_TRUE(e2e::eventually([&] { return exists(first.partial().record_path); }));
    first.kill_now();

    const e2e::run_result next = box.run(package);
    EXPECT_EQ(next.exit_code, 0);
    EXPECT_TRUE(next.boxes.empty()) << next.standard_error;
    EXPECT_TRUE(next.record());
    std::ofstream(*first_options.release) << "";  // the orphaned installer may end now
}

TEST_F(guard, two_packages_started_together_never_both_run_their_installers) {
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        e2e::run_options options;
        options.release = box.path("release" + std::to_string(round));
        e2e::running_package a = box.start(package, options);
        e2e::running_package b = box.start(package, options);
        // One ends at once with "Already Running"; the other's installer waits.
        ASSERT_TRUE(e2e::eventually([&] {
            return (a.has_ended() || b.has_ended()) &&
                   (exists(a.partial().record_path) || exists(b.partial().record_path));
        }));
        e2e::running_package& loser = a.has_ended() ? a : b;
        e2e::running_package& winner = a.has_ended() ? b : a;
        const e2e::run_result lost = loser.finish();
        EXPECT_EQ(lost.exit_code, 1);
        EXPECT_EQ(lost.boxes, std::vector<message_box>{already_running});
        EXPECT_FALSE(lost.record());
        EXPECT_TRUE(lost.working_folders().empty());
        EXPECT_FALSE(winner.has_ended());

        std::ofstream(*options.release) << "";
        const e2e::run_result won = winner.finish();
        EXPECT_EQ(won.exit_code, 0);
        EXPECT_TRUE(won.record());
    }
}

}  // namespace
