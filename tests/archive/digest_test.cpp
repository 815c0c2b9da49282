// MD5 against the test suite of RFC 1321.

#include "archive/background_digest.h"
#include "archive/digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 0xf];
    }
    return text;
}

TEST(DigestTest, RfcTestSuite) {
    const struct {
        const char* input;
        const char* digest;
    } vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& vector : vectors) {
        const std::string input = vector.input;
        EXPECT_EQ(hex(archive::md5_of(input.data(), input.size())), vector.digest) << input;
        // Fed in uneven pieces, the digest is the same.
        archive::md5 pieces;
        for (size_t at = 0; at < input.size(); at += 7) pieces.update(input.data() + at, std::min<size_t>(7, input.size() - at));
        EXPECT_EQ(hex(pieces.finish()), vector.digest) << input;
    }
}

// Blocks digested on the second thread give the digest of their bytes in
// the order handed over, however many wait and whatever their sizes.
TEST(DigestTest, BackgroundDigestOfManyBlocks) {
    std::minstd_rand random(11);
    for (size_t ring : {size_t(1), size_t(4)}) {
        archive::background_digest digest(1000, ring);
        std::string all;
        for (int i = 0; i < 300; ++i) {
            const size_t count = i % 50 == 0 ? 0 : i % 7 == 0 ? 1000 : random() % 1001;
            char* block = digest.next_block();
            for (size_t k = 0; k < count; ++k) block[k] = static_cast<char>(random());
            all.append(block, count);
            digest.submit(count);
        }
        EXPECT_EQ(digest.finish(), archive::md5_of(all.data(), all.size())) << ring;
    }
    archive::background_digest nothing(16);
    EXPECT_EQ(hex(nothing.finish()), "d41d8cd98f00b204e9800998ecf8427e");
}

// A writer that gives up half-way (an input that cannot be read) drops a
// digest with blocks still pending; that must neither hang nor touch them
// after they are gone (the sanitizer build watches), nor disturb the next.
TEST(DigestTest, BackgroundDigestDroppedWithBlocksPending) {
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 20; ++i) {
        {
            archive::background_digest dropped(block.size(), 2);
            for (int k = 0; k < 2; ++k) {
                std::memcpy(dropped.next_block(), block.data(), block.size());
                dropped.submit(block.size());
            }
        }
        archive::background_digest next(block.size(), 2);
        std::memcpy(next.next_block(), block.data(), block.size());
        next.submit(block.size());
        EXPECT_EQ(next.finish(), archive::md5_of(block.data(), block.size()));
    }
}

}  // namespace
