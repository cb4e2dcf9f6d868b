#include <cstdio>
#include <cstring>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"
#include "tarvik/engine/crypto/parsed_certificates.h"

using namespace tarvik::crypto;

namespace {

// Replaces the certificate's recorded file name (none when name is null).
int record_file_name(S_EID_CERT* certificate, const char* name) {
    S_EID_CERT updated{};
    const int32_t name_len = name == nullptr ? 0 : static_cast<int32_t>(std::strlen(name));
    if (init_S_EID_CERT(&updated, certificate->crt, static_cast<int32_t>(certificate->crt_len), certificate->no, name,
                        name_len) != 0)
        return -1;
    free_S_EID_CERT(certificate);
    *certificate = updated;
    return 0;
}

bool write_pem(X509* cert, const char* path) {
    const auto text = pem_text_of(cert);
    if (!text) return false;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text->data(), 1, text->size(), file) == text->size();
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    std::remove(path);
    return false;
}

}  // namespace

int eidSaveX509(S_EID_CERT* certificate, const char* path) {
    if (certificate == nullptr) {
        CRYPTO_TRACE("ERROR in eidSaveX509, S_EID_CERT is NULL");
        return -1;
    }
    if (path == nullptr || path[0] == '\0') return 0;
    X509* parsed = nullptr;
    const int rc = eidReadX509Certificate(&parsed, certificate);
    if (rc != 0) {
        CRYPTO_TRACE("ERROR in eidSaveX509 while calling eidReadX509Certificate");
        return rc;
    }
    X509Ptr cert(parsed);
    if (std::strlen(path) > CRYPTO_FILE_NAME_MAX || record_file_name(certificate, path) != 0) {
        CRYPTO_TRACE("ERROR in eidSaveX509, malloc failed");
        return -1;
    }
    if (!write_pem(cert.get(), path)) {
        record_file_name(certificate, nullptr);
        ERR_clear_error();
        return -1;
    }
    return 0;
}
