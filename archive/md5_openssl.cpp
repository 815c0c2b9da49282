// MD5 through OpenSSL's libcrypto.

#include "archive/digest.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace archive {

md5::md5() : state_(EVP_MD_CTX_new()) {
    if (state_ == nullptr) throw std::bad_alloc();
    if (EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(state_), EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_));
        throw std::runtime_error("MD5 is not available");
    }
}

md5::~md5() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_)); }

void md5::update(const void* data, size_t size) {
    if (size != 0) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(state_), data, size);
}

std::string md5::finish() {
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(state_), bytes, &length);
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::string md5_of(const void* data, size_t size) {
    md5 digest;
    digest.update(data, size);
    return digest.finish();
}

}  // namespace archive
