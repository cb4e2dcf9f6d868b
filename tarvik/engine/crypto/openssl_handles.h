// Owning handles for the OpenSSL objects the crypto unit makes, and the trace
// helpers it writes through.
#ifndef TARVIK_ENGINE_CRYPTO_OPENSSL_HANDLES_H
#define TARVIK_ENGINE_CRYPTO_OPENSSL_HANDLES_H

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "orvel.h"

namespace tarvik::crypto {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;
// A list of certificates it does not own: whoever made them keeps them.
struct X509ListFree {
    void operator()(STACK_OF(X509) * list) const { sk_X509_free(list); }
};
using X509ListPtr = std::unique_ptr<STACK_OF(X509), X509ListFree>;
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The library's text for its latest error (empty when there is none).
inline std::string last_error_text() {
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return text;
}

}  // namespace tarvik::crypto

#define CRYPTO_TRACE(...) __tracef(ORVEL_DEBUG, __func__, __FILE__, __LINE__, __VA_ARGS__)
#define CRYPTO_DUMP(data, length) __xdump(ORVEL_DEBUG, __func__, __FILE__, __LINE__, (data), (length))

#endif
