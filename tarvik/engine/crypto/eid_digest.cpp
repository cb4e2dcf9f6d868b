#include <cstdlib>
#include <cstring>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"

using namespace tarvik::crypto;

unsigned char* sha1_digest(const unsigned char* bytes, uint32_t count, int* length) {
    if (bytes == nullptr || count == 0 || length == nullptr) {
        CRYPTO_TRACE("WARNING: buf is NULL, or len is not greater than zero, or olen is NULL");
        return nullptr;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    auto* digest = static_cast<unsigned char*>(std::calloc(36, 1));
    unsigned int digest_len = 0;
    if (!ctx || digest == nullptr || EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), bytes, count) != 1 || EVP_DigestFinal_ex(ctx.get(), digest, &digest_len) != 1) {
        std::free(digest);
        ERR_clear_error();
        return nullptr;
    }
    *length = static_cast<int>(digest_len);
    return digest;
}

int eidSha1(const S_EID_DATA* input, S_EID_DATA* output) {
    if (input == nullptr || output == nullptr || input->dta == nullptr || input->dta_len == 0) return -1;
    int length = 0;
    std::unique_ptr<unsigned char, FreeDeleter> digest(sha1_digest(input->dta, input->dta_len, &length));
    if (!digest) return -1;
    free_S_EID_DATA(output);
    return init_S_EID_DATA(output, digest.get(), length, nullptr, 0) == 0 ? 0 : -1;
}
