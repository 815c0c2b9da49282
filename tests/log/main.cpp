// The test binary's entry point. With QV_LOG_TEST_WRITER set it is instead a
// child writer of the multi-process file test: "base|id|count" appends count
// lines to the log at base through the front-end and exits.

#include "tessel/log/file.h"
#include "tessel/log/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

namespace {

int run_writer(const std::string& plan) {
    std::istringstream fields(plan);
    std::string base, id, count;
    std::getline(fields, base, '|');
    std::getline(fields, id, '|');
    std::getline(fields, count, '|');
    try {
        tessel::log::attach(new tessel::log::file(base));
        const int lines = std::stoi(count);
        // Long lines make a torn write more likely to show.
        const std::string padding(150, 'x');
        for (int n = 0; n < lines; ++n) tessel::log::print("writer %s line %d %s", id.c_str(), n, padding.c_str());
        tessel::log::shutdown();
    } catch (const std::exception& error) {
        std::cerr << "writer " << id << ": " << error.what() << "\n";
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* writer = std::getenv("QV_LOG_TEST_WRITER")) return run_writer(writer);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
