// qvpack's commands in-process: manifests, launcher images that are
// packages, and the reasons verify gives.

#include "package_fixture.h"
#include "tools/qvpack/commands.h"

#include <sstream>

namespace {

class QvpackTest : public PackageTest {};

TEST_F(QvpackTest, FieldsQuoteAndSplitBackToTheSameBytes) {
    const std::vector<std::string> fields = {"plain", "", "two words", "/V\"X=1 \"", "a\\b", "#hash",
                                             std::string("\x01\xff\r\n\t", 5)};
    std::string line;
    for (const std::string& field : fields) line += qvpack::quote(field) + " ";
    EXPECT_EQ(qvpack::split_fields(line), fields);
    for (const char* bad : {"\"open", "\"x\"y", "a\"b", "\"\\q\"", "\"\\x4\""})
        EXPECT_THROW(qvpack::split_fields(bad), archive::package_error) << bad;
}

TEST_F(QvpackTest, ManifestItemsAndErrors) {
    const qvpack::build_plan plan = qvpack::parse_manifest(
        "# a package\n\nstub bin/launcher.exe Reader.exe\nfile installer32 setup.exe /abs/setup.exe\r\n"
        "value parameters \"/V\\\"PARTNERID=5 \\\"\"\nvalue msilog ON\nalign 8\ntrailer cert.bin\n",
        "/base");
    EXPECT_EQ(plan.stub_path, "/base/bin/launcher.exe");
    EXPECT_EQ(plan.stub_file_name, "Reader.exe");
    ASSERT_EQ(plan.groups.size(), 3u);
    EXPECT_EQ(plan.groups[0].path, "/abs/setup.exe");
    EXPECT_EQ(plan.groups[0].text, "setup.exe");
    EXPECT_EQ(plan.groups[1].text, "/V\"PARTNERID=5 \"");
    EXPECT_EQ(plan.groups[2].name, "msilog");
    EXPECT_EQ(plan.alignment, 8u);
    EXPECT_EQ(plan.trailer_path, "/base/cert.bin");

    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"value a b\n", "the manifest names no stub"},
        {"stub a\nstub b\n", "manifest line 2: a second stub"},
        {"stub a\nfile n f\n", "manifest line 2: file NAME FILE-NAME PATH"},
        {"stub a\nalign 0\n", "manifest line 2: align N (1 to 4096)"},
        {"stub a\nvalue n \"open\n", "manifest line 2: a quoted field is not closed"},
        {"stub a\ncopy x\n", "manifest line 2: unknown item \"copy\" (stub, file, value, align, trailer)"},
    };
    for (const auto& c : bad) {
        try {
            qvpack::parse_manifest(c.text, "");
            ADD_FAILURE() << c.text;
        } catch (const archive::package_error& error) {
            EXPECT_STREQ(error.message(), c.message);
        }
    }
}

TEST_F(QvpackTest, ALauncherImageHoldingTheMarkerTextIsNotTakenForAPackage) {
    // The launcher's own image carries the marker text among its strings.
    const std::string launcher = "MZ" + std::string(300, 'i') + "chunked-installer-tail" + std::string(700, 'j');
    write_file(path("launcher.exe"), launcher);
    EXPECT_FALSE(qvpack::find_packaged_stub(path("launcher.exe")));

    qvpack::build_plan plan;
    plan.stub_path = path("launcher.exe");
    plan.groups.push_back(qvpack::group{qvpack::group::value, "msilog", "ON", ""});
    ASSERT_EQ(qvpack::build(plan, path("first.exe"), false), 0);
    const auto stub = qvpack::find_packaged_stub(path("first.exe"));
    ASSERT_TRUE(stub);
    EXPECT_EQ(stub->image_length, launcher.size());
    EXPECT_EQ(stub->file_name, "launcher.exe");

    // Built from that package: the same image, only the new groups.
    plan.stub_path = path("first.exe");
    plan.groups[0] = qvpack::group{qvpack::group::value, "parameters", "/q", ""};
    ASSERT_EQ(qvpack::build(plan, path("second.exe"), false), 0);
    const std::string second = read_file(path("second.exe"));
    EXPECT_EQ(second.substr(0, launcher.size()), launcher);
    EXPECT_EQ(second.find("msilog"), std::string::npos);
    std::string reason;
    EXPECT_EQ(qvpack::verify(path("second.exe"), reason), 0) << reason;
    EXPECT_EQ(extract(path("second.exe")), "");
    EXPECT_EQ(launcher::value_table.at("parameters"), "/q");

    // Rebuilt onto itself: the input is read before the output replaces it.
    plan.stub_path = path("second.exe");
    ASSERT_EQ(qvpack::build(plan, path("second.exe"), false), 0);
    EXPECT_EQ(read_file(path("second.exe")), second);
}

TEST_F(QvpackTest, VerifyNamesTheReason) {
    const auto records = build([](archive::package_writer& w) {
        w.add_file_data("one", "one.bin", "1");
        w.add_value("two", "2");
    });
    std::string reason;
    EXPECT_EQ(qvpack::verify(package(), reason), 0);
    change_byte(records[4].offset);
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "the file data record at offset " + std::to_string(records[4].offset) + " fails its digest");

    write_file(package(), "MZ" + std::string(100, 'x'));
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "no tail record: the marker \"chunked-installer-tail\" is not in the file");

    std::ostringstream out;
    build([](archive::package_writer& w) { w.add_value("v", "t"); }, std::string(5, 'z'));
    EXPECT_EQ(qvpack::list(package(), out), 0);
    EXPECT_NE(out.str().find("; 5 bytes behind it\nvalid\n"), std::string::npos) << out.str();
}

}  // namespace
