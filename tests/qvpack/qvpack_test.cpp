// qvpack's commands in-process: manifests, launcher images that are
// packages, signed launchers and packages, and the reasons verify gives.

#include "archive/digest.h"
#include "archive/layout.h"
#include "tests/archive/package_fixture.h"
#include "tools/qvpack/commands.h"

#include <sstream>

namespace {

void put32(std::string& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A PE32 image: the headers (512 bytes) and one section holding data.
std::string pe_image(const std::string& data) {
    std::string image(512, '\0');
    image.replace(0, 2, "MZ");
    put32(image, 0x3C, 64);
    image.replace(64, 4, std::string("PE\0\0", 4));
    put32(image, 68, 0x0001014C);  // i386, one section
    put32(image, 84, 224);         // the optional header's size
    put32(image, 88, 0x10B);
    put32(image, 148, 512);        // the headers' size
    put32(image, 180, 16);         // data directories
    put32(image, 328, uint32_t(data.size()));
    put32(image, 332, 512);
    return image + data;
}

// What signing appends: zeros up to a multiple of 8 and a certificate
// table, which the certificate directory (at 216) describes.
std::string signed_file(std::string file) {
    file.append((8 - file.size() % 8) % 8, '\0');
    std::string table(8, '\0');
    put32(table, 0, 24);
    put32(table, 4, 0x00020200);  // revision 2.0, PKCS#7 signed data
    table += std::string(16, 's');
    put32(file, 216, uint32_t(file.size()));
    put32(file, 220, uint32_t(table.size()));
    return file + table;
}

class QvpackTest : public PackageTest {
protected:
    uint64_t package_size() { return read_file(package()).size(); }
    // The offset and length columns of a line of list.
    static std::string row(uint64_t offset, uint64_t length) {
        char row[32];
        std::snprintf(row, sizeof(row), "%10u %10u  ", unsigned(offset), unsigned(length));
        return row;
    }
    qvpack::build_plan plan_from(const std::string& stub) {
        write_file(path("stub.exe"), stub);
        qvpack::build_plan plan;
        plan.stub_path = path("stub.exe");
        plan.groups.push_back(qvpack::group{qvpack::group::value, "msilog", "ON", ""});
        return plan;
    }
    std::string listed() {
        std::ostringstream out;
        qvpack::list(package(), out);
        return out.str();
    }
};

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
    const std::string launcher = pe_image(std::string(300, 'i') + "chunked-installer-tail" + std::string(700, 'j'));
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
    EXPECT_EQ(value_table.at("parameters"), "/q");

    // Rebuilt onto itself: the input is read before the output replaces it.
    plan.stub_path = path("second.exe");
    ASSERT_EQ(qvpack::build(plan, path("second.exe"), false), 0);
    EXPECT_EQ(read_file(path("second.exe")), second);
}

// A valid package whose installer Windows would open through its file
// type, without the launcher's parameters, is valid with a warning.
TEST_F(QvpackTest, VerifyWarnsOfAnInstallerWindowsDoesNotStart) {
    for (const char* file_name : {"product.msi", "setup.exe", "install.CMD", "SETUP.EXE"}) {
        SCOPED_TRACE(file_name);
        build([&](qv_test::package_writer& w) {
            w.add_file_data("installer32", file_name, "1");
            w.add_value("executable32", "%installer32%");
        });
        std::string reason, warning;
        EXPECT_EQ(qvpack::verify(package(), reason, nullptr, &warning), 0) << reason;
        const bool starts = std::string(file_name).find("msi") == std::string::npos &&
                            std::string(file_name).find("CMD") == std::string::npos;
        EXPECT_EQ(warning.empty(), starts) << warning;
        EXPECT_EQ(warning.find("tools/setup") != std::string::npos, !starts) << warning;
    }
}

TEST_F(QvpackTest, VerifyNamesTheReason) {
    const auto records = build([](qv_test::package_writer& w) {
        w.add_file_data("one", "one.bin", "1");
        w.add_value("two", "2");
    });
    std::string reason;
    EXPECT_EQ(qvpack::verify(package(), reason), 0);
    change_byte(records[4].offset);
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "the file data record at offset " + std::to_string(records[4].offset) + " fails its digest");
    change_byte(records[4].offset);
    change_byte(records.back().offset + archive::marker_size + archive::length_size);  // its digest
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "the tail record at offset " + std::to_string(records.back().offset) + " fails its digest");

    // A name Windows refuses: the launcher would not extract it.
    build([](qv_test::package_writer& w) { w.add_file_data("one", "a?b", "1"); });
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "the packed file name a?b is not a plain file name");

    write_file(package(), "MZ" + std::string(100, 'x'));
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "no tail record: the marker \"chunked-installer-tail\" is not in the file");

    build([](qv_test::package_writer& w) { w.add_value("v", "t"); }, std::string(5, 'z'));
    EXPECT_NE(listed().find("; 5 bytes behind it\n" + row(package_size() - 5, 5) + "other bytes\nvalid, not signed\n"),
              std::string::npos)
        << listed();
}

TEST_F(QvpackTest, ASignedLauncherIsCarriedToTheEndOfItsLastSectionWithoutItsTable) {
    // Unstripped: its COFF header names a symbol table behind the section.
    std::string launcher = pe_image(std::string(1000, 'x'));
    put32(launcher, 76, uint32_t(launcher.size()));
    put32(launcher, 80, 7);
    qvpack::build_plan plan = plan_from(signed_file(launcher + "symbols"));
    ASSERT_EQ(qvpack::build(plan, package(), false), 0);
    std::string expected = launcher;
    put32(expected, 76, 0);  // the symbol table's position and count
    put32(expected, 80, 0);
    EXPECT_EQ(read_file(package()).substr(0, launcher.size() + archive::trailer_size),
              expected + archive::encode_trailer(uint32_t(launcher.size()), archive::md5_of(expected.data(), expected.size())));
    std::string reason;
    bool is_signed = true;
    EXPECT_EQ(qvpack::verify(package(), reason, &is_signed), 0) << reason;
    EXPECT_FALSE(is_signed);

    // Signed in turn: the table behind the archive is listed and checked.
    const uint32_t tail_end = uint32_t(package_size());
    write_file(package(), signed_file(read_file(package())));
    const uint32_t table = tail_end + (8 - tail_end % 8) % 8;
    EXPECT_NE(listed().find(row(tail_end, table - tail_end) + "alignment zeros\n" + row(table, 24) +
                            "certificate table: the directory says offset " + std::to_string(table) +
                            ", size 24; certificate length 24, revision 0x0200, type 2 (PKCS#7 signed data)\n"
                            "valid, signed\n"),
              std::string::npos)
        << listed();
    EXPECT_EQ(qvpack::verify(package(), reason, &is_signed), 0) << reason;
    EXPECT_TRUE(is_signed);

    const std::string signed_package = read_file(package());
    write_file(package(), signed_package + "junk");
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "4 bytes follow the certificate table (offset " + std::to_string(table) +
                          ", size 24) to the end of the file");
    write_file(package(), signed_package.substr(0, signed_package.size() - 1));
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_EQ(reason, "the certificate directory (offset " + std::to_string(table) +
                          ", size 24) points outside the file (" + std::to_string(signed_package.size() - 1) + " bytes)");
    // A package built, as before, with the launcher's own table in its stub.
    write_file(package(), signed_file(launcher) + signed_package.substr(launcher.size()));
    EXPECT_EQ(qvpack::verify(package(), reason), 1);
    EXPECT_NE(reason.find(") points into the archive, which ends at "), std::string::npos) << reason;
}

TEST_F(QvpackTest, BuildRefusesDamagedHeadersAndAMarkerInTheTrailerAndLeavesNothing) {
    const std::string launcher = pe_image(std::string(1000, 'x'));
    std::string far_header = launcher, far_section = launcher, far_table = signed_file(launcher);
    put32(far_header, 0x3C, 1u << 30);
    put32(far_section, 332, 4000);
    put32(far_table, 220, 1u << 20);
    const struct {
        std::string stub;
        std::string message;
    } cases[] = {
        {launcher.substr(0, 40), "damaged PE headers: the DOS header (offset 0, 64 bytes) ends behind the end of the file (40 bytes)"},
        {launcher.substr(0, 300), "damaged PE headers: the optional header (offset 88, 224 bytes) ends behind the end of the file (300 bytes)"},
        {far_header, "damaged PE headers: the PE signature and COFF header (offset 1073741824, 24 bytes) ends behind the end of the file (1512 bytes)"},
        {far_section, "damaged PE headers: section 1's data (offset 4000, 1000 bytes) ends behind the end of the file (1512 bytes)"},
    };
    for (const auto& c : cases) {
        try {
            qvpack::build(plan_from(c.stub), package(), false);
            ADD_FAILURE() << c.message;
        } catch (const archive::package_error& error) {
            EXPECT_EQ(error.message(), path("stub.exe") + ": " + c.message);
        }
        EXPECT_FALSE(exists(package()) || exists(package() + ".qvpack-partial")) << c.message;
    }

    qvpack::build_plan plan = plan_from(launcher);
    // (A marker ending in the file's last byte is never examined.)
    write_file(path("trailer.bin"), std::string("\0\0chunked-installer-tail\0", 25));
    plan.trailer_path = path("trailer.bin");
    EXPECT_THROW(qvpack::build(plan, package(), false), archive::package_error);
    EXPECT_FALSE(exists(package()) || exists(package() + ".qvpack-partial"));
}

TEST_F(QvpackTest, ExtractMarksTheValuesTheLauncherEntersItself) {
    build([](qv_test::package_writer& w) {
        w.add_value("source", "C:\\elsewhere");
        w.add_value("msilog", "ON");
    });
    std::ostringstream out;
    std::string reason;
    ASSERT_EQ(qvpack::extract(package(), path("work"), out, reason, false), 0) << reason;
    EXPECT_EQ(out.str(), "value msilog ON\n# no effect: the launcher enters its own source before it reads the archive\n"
                         "value source \"C:\\\\elsewhere\"\n");
}

// On Linux a backslash is a plain character of a name: build, verify and
// list name that very file, never a folder's.
TEST_F(QvpackTest, ABackslashIsPartOfTheName) {
    const std::string named = path("a\\b.exe");
    ASSERT_EQ(mkdir(path("a").c_str(), 0755), 0);
    write_file(path("a/b.exe"), "not a package");
    ASSERT_EQ(qvpack::build(plan_from(pe_image("x")), named, false), 0);
    EXPECT_EQ(read_file(path("a/b.exe")), "not a package");
    std::string reason;
    EXPECT_EQ(qvpack::verify(named, reason), 0) << reason;
    std::ostringstream out;
    qvpack::list(named, out);
    EXPECT_NE(out.str().find("valid, not signed"), std::string::npos) << out.str();
    EXPECT_EQ(qvpack::verify(path("a/b.exe"), reason), 1);
}

// A build that fails once writing has begun leaves no partial package, and
// the file that was at the output stays as it was.
TEST_F(QvpackTest, AFailedBuildLeavesNoPartialOutput) {
    qvpack::build_plan plan = plan_from(pe_image("x"));
    plan.groups.push_back(qvpack::group{qvpack::group::file, "installer32", "setup.exe", path("missing.exe")});
    write_file(package(), "the package before");
    EXPECT_THROW(qvpack::build(plan, package(), false), archive::package_error);
    EXPECT_EQ(read_file(package()), "the package before");
    EXPECT_FALSE(exists(package() + ".qvpack-partial"));
}

}  // namespace
