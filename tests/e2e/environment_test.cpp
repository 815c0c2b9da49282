// Launchers whose string table lacks a folder word end in the outer handler
// before the run makes anything.

#include "tests/e2e/e2e.h"

#include <gtest/gtest.h>

namespace {

TEST(Environment, AMissingOrEmptyFolderWordEndsTheRunBeforeAnyWorkingFolder) {
    e2e::sandbox sandbox;
    const struct {
        const char* launcher;
        const char* caption;
    } variants[] = {{QV_LAUNCHER_NO_VENDOR, "[resource string 2001 is not found]"},
                    {QV_LAUNCHER_EMPTY_PRODUCT, "[resource string 2002 is not found]"}};
    for (const auto& variant : variants) {
        e2e::package_plan plan = e2e::package_plan::example();
        plan.launcher = variant.launcher;
        const std::string package = sandbox.build_package(plan);
        const e2e::run_result result = sandbox.run(package);
        EXPECT_EQ(result.exit_code, 1) << variant.launcher;
        EXPECT_EQ(result.boxes, (std::vector<e2e::message_box>{{variant.caption, "Unhandled Exception"}}));
        EXPECT_TRUE(result.working_folders().empty());
        EXPECT_FALSE(result.record()) << "the installer ran";
    }
}

}  // namespace
