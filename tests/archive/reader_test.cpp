// The launcher's reader: the walk, the value table, extraction and its
// message boxes.

#include "archive/layout.h"
#include "archive/walk.h"
#include "package_fixture.h"

#include <sys/resource.h>

#include <cstring>
#include <map>
#include <random>

namespace {

using qv_test::package_writer;
using Table = std::map<std::string, std::string>;

std::string system_text(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result(text, std::strlen(text) - 2);
    LocalFree(text);
    return result;
}

class ReaderTest : public PackageTest {};

// A synthetic executable image of the given size beginning with "MZ".
std::string executable(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::minstd_rand random(seed);
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    return bytes;
}

// Two large packed files, the smaller read first: its memory is given back
// before the larger one is read, never grown into the larger.
TEST_F(ReaderTest, OnePayloadIsHeldAtATime) {
    package_writer writer(package());
    writer.add_stub_data("MZ", "Reader.exe");
    writer.add_file_data("cabinet", "product.cab", std::string(5 << 20, 'c'));
    writer.add_file_data("installer32", "product.msi", std::string(3 << 20, 'm'));
    writer.add_tail();
    writer.close();
    archive::payload_bytes() = archive::payload_usage();
    extract();
    EXPECT_TRUE(archive_valid);
    EXPECT_EQ(archive::payload_bytes().in_use, 0u);
    EXPECT_GE(archive::payload_bytes().peak, size_t(5) << 20);
    EXPECT_LT(archive::payload_bytes().peak, (size_t(5) << 20) + 4096);
}

TEST_F(ReaderTest, TheWorkedExamplePackage) {
    const std::string installer = executable(2003256, 2);
    std::string certificate = executable(5760, 3);
    certificate[0] = '\x30';
    package_writer writer(package());
    writer.add_stub_data(executable(460800, 1), "Reader.exe", "stub", std::string(16, '\x5a'));  // signed afterwards
    writer.add_file_data("installer32", "setup.exe", installer);
    writer.add_value("executable32", "%installer32%");
    writer.add_value("parameters", "/V\"PARTNERID=5 WEBINSTALLER=1 \"");
    writer.add_value("msilog", "ON");
    writer.add_tail();
    writer.align(8);
    writer.add_trailing(certificate);
    writer.close();

    const uint64_t offsets[] = {0,         460820,    460850,    460874,    460898,    2464174,
                                2464203,   2464234,   2464258,   2464291,   2464323,   2464348,
                                2464399,   2464429,   2464454,   2464476,   2464502,   2464527};
    const uint32_t lengths[] = {460800, 10, 4, 4, 2003256, 9, 11, 4, 13, 12, 5, 31, 10, 5, 2, 6, 5, 22};
    ASSERT_EQ(writer.records().size(), 18u);
    for (size_t i = 0; i < 18; ++i) {
        EXPECT_EQ(writer.records()[i].offset, offsets[i]) << i;
        EXPECT_EQ(writer.records()[i].length, lengths[i]) << i;
    }
    EXPECT_EQ(writer.size(), 2470336u);

    const std::string bytes = read_file(package());
    ASSERT_EQ(bytes.size(), 2470336u);
    EXPECT_EQ(bytes.substr(2464527, 42), std::string("chunked-installer-tail\x16\0\0\0", 26) +
                                              "\xa8\xa8\xce\x01\x23\xfb\x19\x7e\x70\x6d\x7c\xe0\xc7\x86\x74\xc5");
    EXPECT_EQ(bytes.substr(2464569, 7), std::string(7, '\0'));
    EXPECT_EQ(bytes.substr(2464576), certificate);

    EXPECT_EQ(extract(), "");
    EXPECT_TRUE(archive_valid);
    EXPECT_EQ(value_table, (Table{{"executable32", "%installer32%"},
                                            {"parameters", "/V\"PARTNERID=5 WEBINSTALLER=1 \""},
                                            {"msilog", "ON"},
                                            {"installer32", "setup.exe"}}));
    EXPECT_EQ(read_file(work("setup.exe")), installer);
}

// The tail search gives the result of sliding a 22-byte window back one
// byte at a time from the end, whatever the block boundaries.
TEST_F(ReaderTest, TailSearchMatchesTheSlidingWindow) {
    const std::string marker(archive::tail_marker, archive::marker_size);
    const auto reference = [&](const std::string& bytes) -> int64_t {
        for (int64_t start = int64_t(bytes.size()) - 23; start >= 23; --start)
            if (bytes.compare(size_t(start), marker.size(), marker) == 0) return start + 42;
        return -1;
    };
    std::minstd_rand random(7);
    std::vector<std::string> files;
    const size_t block = 64 * 1024;
    for (size_t size : {size_t(44), size_t(45), size_t(46), size_t(100), block + 60, 3 * block + 5}) {
        // The marker at every interesting place: the first and last windows,
        // just outside them, across block boundaries, twice overlapping.
        std::vector<int64_t> places = {22, 23, 24, int64_t(size) - 23, int64_t(size) - 22, int64_t(size) - 24};
        for (int64_t k = 1; k <= 3; ++k)
            for (int64_t delta = -22; delta <= 1; delta += 3) places.push_back(int64_t(size) - 1 - int64_t(k * block) + delta);
        for (int64_t place : places) {
            if (place < 0 || place + 22 > int64_t(size)) continue;
            std::string bytes(size, 'c');
            bytes.replace(size_t(place), 22, marker);
            files.push_back(bytes);
            if (place >= 40) {  // and an earlier one that must lose
                bytes.replace(size_t(place - 40), 22, marker);
                files.push_back(bytes);
            }
        }
        files.push_back(std::string(size, 'c'));
    }
    for (int i = 0; i < 20; ++i) {  // random bytes with random markers
        std::string bytes(size_t(random() % (2 * block)) + 30, '\0');
        for (char& c : bytes) c = "chunked-"[random() % 8];
        for (int m = 0; m < 3; ++m) bytes.replace(size_t(random() % (bytes.size() - 22)), 22, marker);
        files.push_back(bytes);
    }
    for (const std::string& bytes : files) {
        write_file(package(), bytes);
        HANDLE file = CreateFileA(qv_posix::to_dos_path(package()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        uint32_t end = 0;
        archive::handle_source source(file);
        const bool found = archive::find_tail(source, &end);
        const int64_t expected = reference(bytes);
        EXPECT_EQ(found, expected >= 0) << bytes.size();
        if (found) {
            EXPECT_EQ(int64_t(end), expected) << bytes.size();
            EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), end);
        }
        CloseHandle(file);
    }
}

TEST_F(ReaderTest, NothingBehindTheTailAndAPayloadOfLengthZero) {
    const auto records = build([](package_writer& w) {
        w.add_file_data("", "empty.txt", "");  // written, but not entered under its name
        w.add_value("blank", "");
        w.add_value("", "nameless");
    });
    const std::string bytes = read_file(package());
    EXPECT_EQ(bytes.size(), records.back().offset + 42);
    write_file(work("empty.txt"), "an older file of the same name is replaced");
    EXPECT_EQ(extract(), "");
    EXPECT_TRUE(archive_valid);
    EXPECT_EQ(value_table, (Table{{"blank", ""}, {"", "nameless"}}));
    EXPECT_TRUE(exists(work("empty.txt")));
    EXPECT_EQ(read_file(work("empty.txt")), "");
}

TEST_F(ReaderTest, TheRecordNearerTheEndWinsAndEntriesAlreadyThereStay) {
    value_table["source"] = "Z:\\pkg.exe";
    build([](package_writer& w) {
        w.add_value("parameters", "first");
        w.add_file_data("installer32", "a.exe", "A");
        w.add_value("parameters", "second");
        w.add_file_data("installer32", "b.exe", "B");
        w.add_value("source", "from the archive");
    });
    EXPECT_EQ(extract(), "");
    EXPECT_EQ(value_table,
              (Table{{"source", "Z:\\pkg.exe"}, {"parameters", "second"}, {"installer32", "b.exe"}}));
    EXPECT_EQ(read_file(work("a.exe")), "A");  // both files are written
    EXPECT_EQ(read_file(work("b.exe")), "B");
}

TEST_F(ReaderTest, AnUnrecognisedKindSkipsItselfAndOneMoreRecord) {
    build([](package_writer& w) {
        w.add_value("a", "1");
        // A group spelled "Value": its kind and name are skipped, and its
        // text is read as the next kind.
        w.add_record("value");
        w.add_record("b");
        w.add_record("Value");
    });
    EXPECT_EQ(extract(), "");
    EXPECT_TRUE(archive_valid);
    // Reading on from the text "value": name = the kind of group a, text = its name.
    EXPECT_EQ(value_table, (Table{{"value", "a"}}));
}

TEST_F(ReaderTest, GroupsBeforeTheStubAreNeverRead) {
    qv_test::package_writer writer(package());
    writer.add_record("never read");
    writer.add_record("early");
    writer.add_record("value");
    writer.add_stub_data(image(), "Reader.exe");
    writer.add_value("late", "read");
    writer.add_tail();
    writer.close();
    EXPECT_EQ(extract(), "");
    EXPECT_TRUE(archive_valid);
    EXPECT_EQ(value_table, (Table{{"late", "read"}}));
}

TEST_F(ReaderTest, NoMarkerOrNoFile) {
    for (bool silent : {false, true}) {
        silent_mode = silent;
        write_file(package(), "MZ" + std::string(5000, 'x') + "chunked-installer-tail");  // ends in the marker: never examined
        EXPECT_EQ(extract(), silent ? "" : box("Failed to initialize archive!",
                                               "File: " + qv_posix::to_dos_path(package()) +
                                                   "\rError: The operation completed successfully."));
        write_file(package(), std::string(44, 'x'));  // too short to hold a window
        EXPECT_EQ(extract(), silent ? "" : box("Failed to initialize archive!",
                                               "File: " + qv_posix::to_dos_path(package()) + "\rError: " +
                                                   system_text(ERROR_SUCCESS)));
        EXPECT_EQ(extract(path("missing.exe")),
                  silent ? "" : box("Failed to open archive!", "File: " + qv_posix::to_dos_path(path("missing.exe")) +
                                                                   "\rError: " + system_text(ERROR_FILE_NOT_FOUND)));
        EXPECT_FALSE(archive_valid);
        EXPECT_TRUE(value_table.empty());
    }
}

TEST_F(ReaderTest, AChangedByteInAFileStopsBeforeWritingIt) {
    for (bool silent : {false, true}) {
        reset();
        silent_mode = silent;
        const auto records = build([](package_writer& w) {
            w.add_file_data("one", "one.bin", "first file");
            w.add_file_data("two", "two.bin", "second file");
            w.add_file_data("three", "three.bin", "third file");
        });
        change_byte(records[8].offset + 3);  // the data of "two"
        EXPECT_EQ(extract(), silent ? "" : invalid_archive_box());
        EXPECT_FALSE(archive_valid);
        EXPECT_TRUE(exists(work("three.bin")));  // nearer the end: already written
        EXPECT_FALSE(exists(work("two.bin")));
        EXPECT_FALSE(exists(work("one.bin")));
        EXPECT_EQ(value_table, (Table{{"three", "three.bin"}}));
    }
}

TEST_F(ReaderTest, AChangedByteInTheTailRecord) {
    for (uint64_t at : {uint64_t(0), uint64_t(21), uint64_t(22), uint64_t(41)}) {  // marker, length, digest
        reset();
        const auto records = build([](package_writer& w) { w.add_file_data("f", "f.bin", "data"); }, "signature");
        change_byte(records.back().offset + at);
        const std::string boxes = extract();
        EXPECT_FALSE(archive_valid) << at;
        EXPECT_FALSE(exists(work("f.bin"))) << at;
        // A changed marker is no longer found; a changed length or digest
        // fails the check.
        if (at < 22) EXPECT_NE(boxes.find("Failed to initialize archive!"), std::string::npos) << at;
        else EXPECT_EQ(boxes, invalid_archive_box()) << at;
    }
}

TEST_F(ReaderTest, FileNamesThatAreNotPlainAreRefused) {
    const std::vector<std::string> names = {"", ".", "..", "..\\escaped.txt", "../escaped.txt", "sub/x.txt",
                                            "C:x.txt", std::string("a\0b", 3),
                                            // devices on Windows, and names Windows would shorten
                                            "NUL", "con.txt", "Aux .log", "COM1", "lpt9.x", "CONOUT$",
                                            "COM\xB9", "...", "setup.exe.", "setup.exe ",
                                            // characters Windows refuses in names, and a name too long
                                            "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\x01" "b", "tab\t",
                                            "a\x1f", std::string(archive::max_file_name_length + 1, 'n')};
    for (const std::string& name : names) {
        reset();
        ASSERT_EQ(mkdir(work("sub").c_str(), 0755), 0);
        build([&](package_writer& w) {
            w.add_file_data("setup", "setup.exe", "installer");
            w.add_file_data("bad", name, "payload");
            w.add_value("after", "read before the bad file");
        });
        // The box text is a C string: a zero byte in the name ends it.
        const std::string text = "File: " + working_folder + name + "\rError: " + system_text(ERROR_INVALID_NAME);
        EXPECT_EQ(extract(), box("Failed to extract file!", text.c_str())) << name;
        EXPECT_FALSE(archive_valid) << name;
        EXPECT_FALSE(exists(path("escaped.txt"))) << name;
        EXPECT_FALSE(exists(work("sub/x.txt"))) << name;
        EXPECT_FALSE(exists(work("a"))) << name;
        EXPECT_FALSE(exists(work("setup.exe"))) << name;  // the walk ended at the bad file
        EXPECT_EQ(value_table.count("after"), 1u);
    }
}

TEST_F(ReaderTest, AnOutputFileThatCannotBeWrittenInvalidatesTheArchive) {
    build([](package_writer& w) { w.add_file_data("big", "big.bin", std::string(10000, 'b')); });
    struct rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string boxes = extract();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    EXPECT_EQ(boxes, box("Failed to extract file!", "File: " + working_folder + "big.bin\rError: " +
                                                        system_text(ERROR_FILE_TOO_LARGE)));
    EXPECT_FALSE(archive_valid);

    // A working folder that is gone: the file cannot be created.
    working_folder = qv_posix::to_dos_path(path("gone")) + "\\";
    EXPECT_EQ(extract(), box("Failed to extract file!", "File: " + working_folder + "big.bin\rError: " +
                                                            system_text(ERROR_PATH_NOT_FOUND)));
    EXPECT_FALSE(archive_valid);
}

TEST_F(ReaderTest, ABrokenWalkAfterTheTailInvalidatesTheArchive) {
    for (bool silent : {false, true}) {
        reset();
        silent_mode = silent;
        package_writer writer(package());
        writer.add_stub_data(image(), "Reader.exe");
        qv_test::package_writer::record_damage damage;
        damage.length = 0x7ffffff0;  // points before the start of the file
        writer.damage_next_record(damage);
        writer.add_record("text");
        writer.add_record("name");
        writer.add_record("value");
        writer.add_tail();
        writer.close();
        EXPECT_EQ(extract(), "");  // silently
        EXPECT_FALSE(archive_valid);
        EXPECT_TRUE(value_table.empty());

        // A length no record can have (it would wrap the 32-bit move).
        reset();
        silent_mode = silent;
        damage.length = 0xfffffffc;
        qv_test::package_writer second(package());
        second.add_stub_data(image(), "Reader.exe");
        second.damage_next_record(damage);
        second.add_record("value");
        second.add_tail();
        second.close();
        EXPECT_EQ(extract(), "");
        EXPECT_FALSE(archive_valid);
    }
}

TEST_F(ReaderTest, ReadRecordLeavesThePositionAtThePayload) {
    build([](package_writer& w) { w.add_value("name", "text"); });
    HANDLE file = CreateFileA(qv_posix::to_dos_path(package()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    archive::handle_source source(file);
    ASSERT_TRUE(archive::find_tail(source));
    archive::payload_buffer payload;
    archive::record_info info;
    const char* expected[] = {"chunked-installer-tail", "value", "name", "text", "stub", "stub", "Reader.exe"};
    for (const char* text : expected) {
        ASSERT_EQ(archive::read_checked_record(source, payload, info), archive::record_status::ok);
        EXPECT_EQ(payload, text);
    }
    ASSERT_EQ(archive::read_checked_record(source, payload, info), archive::record_status::ok);
    EXPECT_EQ(std::string_view(payload), image());
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 0u);
    EXPECT_EQ(archive::read_checked_record(source, payload, info), archive::record_status::failed);  // nothing before the start
    CloseHandle(file);
}

}  // namespace
