#include <cstring>
#include <memory>
#include <span>

#include "platform/file_writer.h"
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

// The file is made in memory first: what reaches the disk goes through the
// kit's writer, which never follows a link planted at the name.
bool write_pem(X509* cert, const char* path) {
    const auto text = pem_text_of(cert);
    if (!text) return false;
    const std::span bytes(reinterpret_cast<const unsigned char*>(text->data()), text->size());
    return kit::platform::write_file(path, bytes) == kit::platform::WriteResult::written;
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
