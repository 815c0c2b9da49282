// MD5 through the Windows hash API (CryptoAPI's base provider).

#include "archive/digest.h"

#include "platform/win32.h"
#include "tessel/format.h"

#include <wincrypt.h>

#include <stdexcept>
#include <string>

namespace archive {
namespace {

[[noreturn]] void fail(const char* call) {
    throw std::runtime_error(std::string(call) + " failed: " + tessel::format_error(GetLastError()));
}

// One verify-only provider for the process: acquiring it costs far more
// than hashing a small record, and the reader hashes every record.
HCRYPTPROV provider() {
    static const HCRYPTPROV handle = [] {
        HCRYPTPROV acquired = 0;
        if (!CryptAcquireContextW(&acquired, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
            fail("CryptAcquireContext");
        return acquired;
    }();
    return handle;
}

HCRYPTHASH hash_of(void* state) { return reinterpret_cast<HCRYPTHASH>(state); }

}  // namespace

md5::md5() : state_(nullptr) {
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider(), CALG_MD5, 0, 0, &hash)) fail("CryptCreateHash");
    state_ = reinterpret_cast<void*>(hash);
}

md5::~md5() { CryptDestroyHash(hash_of(state_)); }

void md5::update(const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    // CryptHashData counts in DWORDs; feed very large inputs in slices.
    const size_t slice = size_t(1) << 30;
    while (size != 0) {
        const DWORD count = static_cast<DWORD>(size < slice ? size : slice);
        if (!CryptHashData(hash_of(state_), bytes, count, 0)) fail("CryptHashData");
        bytes += count;
        size -= count;
    }
}

std::string md5::finish() {
    BYTE bytes[digest_size];
    DWORD length = sizeof(bytes);
    if (!CryptGetHashParam(hash_of(state_), HP_HASHVAL, bytes, &length, 0)) fail("CryptGetHashParam");
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::string md5_of(const void* data, size_t size) {
    md5 digest;
    digest.update(data, size);
    return digest.finish();
}

}  // namespace archive
