// MD5 against the test suite of RFC 1321.

#include "archive/digest.h"

#include <gtest/gtest.h>

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

}  // namespace
