// Helpers of the hardening tests.

#include "tests/hardening/hardening.h"
#include "tests/support/test_folder.h"

#include <sys/stat.h>

namespace hardening {
namespace {

bool starts_with(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string build_package(e2e::sandbox& box, const std::string& name,
                          const std::function<void(qv_test::package_writer&)>& add) {
    const std::string path = box.path(name);
    qv_test::package_writer writer(path);
    writer.add_stub(e2e::launcher_path(), "Reader.exe");
    add(writer);
    writer.add_tail();
    writer.close();
    chmod(path.c_str(), 0755);
    return path;
}

void add_marking_installer(qv_test::package_writer& writer) {
    writer.add_file_data("installer32", "setup.exe", marking_installer);
    writer.add_value("executable32", "%installer32%");
}

std::vector<std::string> stray_writes(const e2e::sandbox& box, const e2e::run_result& result) {
    std::vector<std::string> stray;
    for (const std::string& name : qv_test::folder_entries(result.tmpdir)) {
        // The launcher's log ("Reader" + ".log.txt") belongs in the temporary directory.
        if (!(starts_with(name, "Reader") && ends_with(name, ".log.txt"))) stray.push_back("TMPDIR/" + name);
    }
    for (const std::string& name : qv_test::folder_entries(box.drive_c())) stray.push_back("C:/" + name);
    // What the sandbox and the tests make in its root.
    const char* const made[] = {"package", "mutex", "drive_c", "tmp", "record", "stderr", "release", "fixture"};
    for (const std::string& name : qv_test::folder_entries(box.root())) {
        bool known = false;
        for (const char* prefix : made) known = known || starts_with(name, prefix);
        if (!known) stray.push_back("sandbox/" + name);
    }
    return stray;
}

std::string describe(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "nothing" : text;
}

}  // namespace hardening
