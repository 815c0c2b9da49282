// MD5 of a byte string, as the archive's records carry it.
#pragma once

#include <cstddef>
#include <string>

namespace archive {

const size_t digest_size = 16;

// Incremental MD5 (RFC 1321): feed the bytes, then take the 16 raw bytes in
// the standard's output order. Nothing here throws: a digest that cannot be
// computed (the platform's hash API failed) comes out empty, and so matches
// no stored digest.
class md5 {
public:
    md5();
    ~md5();
    md5(const md5&) = delete;
    md5& operator=(const md5&) = delete;

    void update(const void* data, size_t size);
    std::string finish();  // 16 bytes or none; the digest cannot be fed afterwards

private:
    void* state_;
};

// The 16 raw digest bytes of a whole byte string; empty when they cannot be
// computed.
std::string md5_of(const void* data, size_t size);

}  // namespace archive
