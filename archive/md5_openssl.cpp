// MD5 through OpenSSL's libcrypto.
//
// The one-algorithm MD5_* calls, not EVP: the first EVP digest makes
// libcrypto build its provider and name tables, which costs more than the
// rest of a small package's run. The block function is the same.

#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_* are deprecated in favour of EVP
#include "archive/digest.h"

#include <openssl/md5.h>

#include <new>

namespace archive {

md5::md5() : state_(new MD5_CTX) { MD5_Init(static_cast<MD5_CTX*>(state_)); }

md5::~md5() { delete static_cast<MD5_CTX*>(state_); }

void md5::update(const void* data, size_t size) {
    if (size != 0) MD5_Update(static_cast<MD5_CTX*>(state_), data, size);
}

std::string md5::finish() {
    unsigned char bytes[MD5_DIGEST_LENGTH];
    MD5_Final(bytes, static_cast<MD5_CTX*>(state_));
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string md5_of(const void* data, size_t size) {
    md5 digest;
    digest.update(data, size);
    return digest.finish();
}

}  // namespace archive
