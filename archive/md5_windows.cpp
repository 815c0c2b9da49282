// MD5 through the Windows hash API (CryptoAPI's base provider).

#include "archive/digest.h"

#include "platform/win32.h"

#include <wincrypt.h>

#include <string>

namespace archive {
namespace {

// One verify-only provider for the process: acquiring it costs far more
// than hashing a small record, and the reader hashes every record. Null
// when the system has none: then no digest can be computed.
HCRYPTPROV provider() {
    static const HCRYPTPROV handle = [] {
        HCRYPTPROV acquired = 0;
        if (!CryptAcquireContextW(&acquired, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
            acquired = 0;
        return acquired;
    }();
    return handle;
}

HCRYPTHASH hash_of(void* state) { return reinterpret_cast<HCRYPTHASH>(state); }

}  // namespace

// A null state is a digest that failed: it stays failed and finishes empty.
md5::md5() : state_(nullptr) {
    HCRYPTHASH hash = 0;
    if (provider() != 0 && CryptCreateHash(provider(), CALG_MD5, 0, 0, &hash)) state_ = reinterpret_cast<void*>(hash);
}

md5::~md5() {
    if (state_ != nullptr) CryptDestroyHash(hash_of(state_));
}

void md5::update(const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    // CryptHashData counts in DWORDs; feed very large inputs in slices.
    const size_t slice = size_t(1) << 30;
    while (size != 0 && state_ != nullptr) {
        const DWORD count = static_cast<DWORD>(size < slice ? size : slice);
        if (!CryptHashData(hash_of(state_), bytes, count, 0)) {
            CryptDestroyHash(hash_of(state_));
            state_ = nullptr;
        }
        bytes += count;
        size -= count;
    }
}

std::string md5::finish() {
    BYTE bytes[digest_size];
    DWORD length = sizeof(bytes);
    if (state_ == nullptr || !CryptGetHashParam(hash_of(state_), HP_HASHVAL, bytes, &length, 0) ||
        length != digest_size)
        return std::string();
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::string md5_of(const void* data, size_t size) {
    md5 digest;
    digest.update(data, size);
    return digest.finish();
}

}  // namespace archive
