// The package writer's limits and order.

#include "archive/layout.h"
#include "package_fixture.h"

namespace {

class WriterTest : public PackageTest {};

TEST_F(WriterTest, LengthsBeyondTheFormatAreRefusedBeforeAnythingIsRead) {
    // Sparse files: refused by their size, never read.
    const auto sparse = [&](const std::string& name, uint64_t size) {
        std::FILE* file = std::fopen(path(name).c_str(), "wb");
        EXPECT_EQ(ftruncate(fileno(file), off_t(size)), 0);
        std::fclose(file);
        return path(name);
    };
    write_file(path("stub.exe"), image());
    qv_test::package_writer writer(package());
    writer.add_stub(path("stub.exe"), "Reader.exe");
    try {
        writer.add_file("big", "big.bin", sparse("big.bin", archive::max_payload_length + 1ull));
        ADD_FAILURE() << "a payload beyond the limit was accepted";
    } catch (const archive::package_error& error) {
        EXPECT_STREQ(error.what(), ("package[file data " + path("big.bin") +
                                    ": 2147483645 bytes do not fit a record (at most 2147483644)]")
                                       .c_str());
    }
    writer.add_file("edge", "edge.bin", sparse("edge.bin", 0));
    writer.add_tail();
    EXPECT_THROW(writer.add_trailing_file(sparse("huge.bin", 1ull << 32)), archive::package_error);
    writer.close();
    EXPECT_LT(read_file(package()).size(), 2000u);
}

TEST_F(WriterTest, GroupsMustComeInTheirOrder) {
    qv_test::package_writer writer(package());
    EXPECT_THROW(writer.add_value("early", "x"), archive::package_error);  // no stub group yet
    EXPECT_THROW(writer.add_tail(), archive::package_error);
    writer.add_stub_data(image(), "Reader.exe");
    EXPECT_THROW(writer.add_stub_data(image(), "Reader.exe"), archive::package_error);
    EXPECT_THROW(writer.add_trailing("x"), archive::package_error);  // only behind the tail
    writer.add_tail();
    EXPECT_THROW(writer.add_value("late", "x"), archive::package_error);
    writer.close();
    EXPECT_THROW(writer.add_trailing("x"), archive::package_error);
    EXPECT_THROW(qv_test::package_writer(path("no/such/folder/p.exe")), archive::package_error);
}

}  // namespace
