#include <openssl/rsa.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"
#include "tarvik/engine/crypto/parsed_certificates.h"

using namespace tarvik::crypto;

namespace {

std::span<const unsigned char> bytes_of(const S_EID_DATA* d) { return {d->dta, d->dta_len}; }

#define TRACE_AS(fn, ...) __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, __VA_ARGS__)
#define DUMP_AS(fn, data, length) __xdump(ORVEL_DEBUG, fn, __FILE__, __LINE__, (data), (length))

// The certificate from its DER bytes or, failing that, from its PEM file,
// but only while that file holds exactly what this transaction saved: a
// file another writer put there is never taken for the card's certificate.
// Traced under the name of the operation fn.
X509Ptr load_certificate(const S_EID_CERT* certificate, const char* fn) {
    X509* parsed = nullptr;
    if (eidReadX509Certificate(&parsed, certificate) == 0) {
        TRACE_AS(fn, "INFO from %s, certificate loaded via eidReadX509Certificate", fn);
        return X509Ptr(parsed);
    }
    if (certificate->dsc == nullptr || certificate->dsc_len == 0) return nullptr;
    const std::string name(certificate->dsc, strnlen(certificate->dsc, certificate->dsc_len));
    if (name.size() > CRYPTO_FILE_NAME_MAX) {
        TRACE_AS(fn, "ERROR in %s, PEM file name longer than %zu characters", fn, CRYPTO_FILE_NAME_MAX);
        return nullptr;
    }
    TRACE_AS(fn, "x509cert_pem_fn = %s", name.c_str());
    X509Ptr cert = certificate_saved_in(name);
    if (!cert) {
        TRACE_AS(fn, "ERROR in %s, not able to load x509 certificate", fn);
        return nullptr;
    }
    TRACE_AS(fn, "INFO from %s, certificate loaded via PEM_read_X509", fn);
    return cert;
}

PkeyPtr load_public_key(const S_EID_CERT* certificate, const char* fn) {
    X509Ptr cert = load_certificate(certificate, fn);
    PkeyPtr key(cert ? X509_get_pubkey(cert.get()) : nullptr);
    if (!key) {
        __tracef(ORVEL_DEBUG, "X509_extract_key", __FILE__, __LINE__, "X509_extract_key(x509cert) failed, err = %s",
                 last_error_text().c_str());
        return nullptr;
    }
    __tracef(ORVEL_DEBUG, "X509_extract_key", __FILE__, __LINE__, "call to X509_extract_key(x509cert) was successful");
    return key;
}

// A card file may have lost trailing zero bytes of its signature: put them
// back up to the key's size.
std::vector<unsigned char> signature_at_key_size(const S_EID_DATA* signature, const EVP_PKEY* key) {
    std::vector<unsigned char> sig(signature->dta, signature->dta + signature->dta_len);
    const int key_size = EVP_PKEY_get_size(key);
    if (key_size > 0 && sig.size() < static_cast<std::size_t>(key_size)) sig.resize(static_cast<std::size_t>(key_size), 0);
    return sig;
}

// 1 verified, 0 not, -1 a library step failed.
int digest_verify(EVP_PKEY* key, std::span<const unsigned char> data, std::span<const unsigned char> sig) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key) != 1) {
        TRACE_AS("eidVerifySgn", "EVP_VerifyInit(ctx, EVP_sha1()) failed, err = %s", last_error_text().c_str());
        return -1;
    }
    TRACE_AS("eidVerifySgn", "call to EVP_VerifyInit(&ctx, EVP_sha1()) was successful");
    if (EVP_DigestVerifyUpdate(ctx.get(), data.data(), data.size()) != 1) {
        TRACE_AS("eidVerifySgn", "EVP_VerifyUpdate(ctx, dta2vfy, dta2vfy_len) failed, err = %s", last_error_text().c_str());
        return -1;
    }
    TRACE_AS("eidVerifySgn", "call to EVP_VerifyUpdate(&ctx, dta2vfy, dta2vfy_len) was successful");
    const int rc = EVP_DigestVerifyFinal(ctx.get(), sig.data(), sig.size());
    if (rc < 0) {
        TRACE_AS("eidVerifySgn", "EVP_VerifyFinal(ctx, sgn2vfy, sgn2vfy_len, pub_key) failed, err = %s", last_error_text().c_str());
        return -1;
    }
    TRACE_AS("eidVerifySgn", "call to EVP_VerifyFinal(ctx, sgn2vfy, sgn2vfy_len, pub_key) was successful");
    ERR_clear_error();
    return rc == 1 ? 1 : 0;
}

// The block the raw public-key operation (no padding) yields, or nothing.
std::optional<std::vector<unsigned char>> raw_public_operation(EVP_PKEY* key, std::span<const unsigned char> sig) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    std::vector<unsigned char> block(static_cast<std::size_t>(EVP_PKEY_get_size(key)), 0);
    std::size_t block_len = block.size();
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), block.data(), &block_len, sig.data(), sig.size()) != 1) {
        TRACE_AS("eidVerifySgnHsh", "ERROR: RSA_public_decrypt failed, err = %s", last_error_text().c_str());
        return std::nullopt;
    }
    TRACE_AS("eidVerifySgnHsh", "RSA_public_decrypt returned %zu bytes", block_len);
    block.resize(block_len);
    DUMP_AS("eidVerifySgnHsh", block.data(), static_cast<unsigned int>(block.size()));
    return block;
}

// The card signs the 20-byte value itself with block type 1: a block that
// merely ends with the value (another padding, a short one, none at all, or
// the all-zero block of a zero signature) proves nothing.
bool is_type1_block_of(std::span<const unsigned char> block, std::size_t key_size, std::span<const unsigned char> value) {
    constexpr std::size_t min_padding = 8;
    if (block.size() != key_size || block.size() < 3 + min_padding + value.size()) return false;
    if (block[0] != 0x00 || block[1] != 0x01) return false;
    const std::size_t separator = block.size() - value.size() - 1;
    const auto padding = block.subspan(2, separator - 2);
    if (padding.size() < min_padding || std::ranges::any_of(padding, [](unsigned char b) { return b != 0xFF; }))
        return false;
    return block[separator] == 0x00 && std::ranges::equal(block.subspan(separator + 1), value);
}

bool data_ok(const S_EID_DATA* d) { return d != nullptr && ctrl_S_EID_DATA(d) == 0; }
bool cert_ok(const S_EID_CERT* c) { return c != nullptr && ctrl_S_EID_CERT(c) == 0; }

void trace_length(const char* fn, const char* label, const S_EID_DATA* d,
                  const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, fn, file, line, "%s->dta_len = %i", label, static_cast<int>(d->dta_len));
    __xdump(ORVEL_DEBUG, fn, file, line, d->dta, d->dta_len);
}

// Checks shared by the card-signature entry points.
int check_hsh_inputs(const char* fn, const S_EID_DATA* value, const S_EID_DATA* sig, const S_EID_CERT* cert,
                     const int* status) {
    if (!data_ok(value) || !data_ok(sig) || !cert_ok(cert)) {
        __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, "ERROR in %s, input missing or empty", fn);
        return -1;
    }
    if (status == nullptr) {
        __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, "WARNING: sgn_stat is NULL");
        return -1;
    }
    return 0;
}

}  // namespace

int eidReadX509Certificate(X509** result, const S_EID_CERT* certificate) {
    if (result == nullptr || certificate == nullptr) {
        CRYPTO_TRACE("ERROR in eidReadX509Certificate, S_EID_CERT is NULL");
        return -1;
    }
    if (certificate->crt == nullptr || certificate->crt_len == 0) {
        CRYPTO_TRACE("ERROR in eidReadX509Certificate, member crt in S_EID_CERT is NULL");
        return -1;
    }
    if (certificate->crt_len > static_cast<uint32_t>(INT32_MAX)) return -1;
    X509Ptr cert = parse_der_certificate({certificate->crt, certificate->crt_len});
    if (!cert) {
        ERR_clear_error();
        return -1;
    }
    *result = cert.release();
    return 0;
}

int eidVerifySgn(const S_EID_DATA* data, const S_EID_DATA* signature, const S_EID_CERT* certificate, int* status) {
    if (!data_ok(data) || !data_ok(signature) || certificate == nullptr || status == nullptr) return -1;
    CRYPTO_TRACE("ENTERING:");
    CRYPTO_TRACE("some_certificate->no = %i", static_cast<int>(certificate->no));
    int result = -1;
    if (PkeyPtr key = load_public_key(certificate, "eidVerifySgn")) {
        const std::vector<unsigned char> sig = signature_at_key_size(signature, key.get());
        const int verified = digest_verify(key.get(), bytes_of(data), sig);
        if (verified >= 0) {
            if (verified == 1) {
                CRYPTO_TRACE("Signature OK");
                *status = 1;
            } else {
                CRYPTO_TRACE("ERROR: THE SIGNATURE in sgn2vfy DOES NOT MATCH THE DATA in dta2vfy");
                *status = -1;
            }
            result = 0;
        }
    }
    CRYPTO_TRACE("EXITING: ");
    return result;
}

int eidVerifySgnRn(const S_EID_DATA* id_rn, const S_EID_DATA* /*unused*/, const S_EID_DATA* sgn_rn,
                   const S_EID_CERT* cert8, int* status) {
    CRYPTO_TRACE("ENTERING:");
    if (!data_ok(id_rn)) {
        CRYPTO_TRACE("ERROR in eidVerifySgnRn, ctrl_S_EID_DATA(id_rn)");
        return -1;
    }
    if (!data_ok(sgn_rn)) {
        CRYPTO_TRACE("ERROR in eidVerifySgnRn, ctrl_S_EID_DATA(sgn_rn)");
        return -1;
    }
    if (!cert_ok(cert8)) {
        CRYPTO_TRACE("ERROR in eidVerifySgnRn, ctrl_S_EID_CERT(cert8)");
        return -1;
    }
    if (status == nullptr) {
        CRYPTO_TRACE("WARNING: sgn_stat is NULL");
        return -1;
    }
    trace_length(__func__, "id_rn", id_rn);
    trace_length(__func__, "sgn_rn", sgn_rn);
    const int result = eidVerifySgn(id_rn, sgn_rn, cert8, status);
    CRYPTO_TRACE("EXITING: ");
    return result;
}

int eidVerifySgnAddress(const S_EID_DATA* id_address, const S_EID_DATA* sgn_rn, const S_EID_DATA* sgn_address,
                        const S_EID_CERT* cert8, int* status) {
    CRYPTO_TRACE("ENTERING:");
    if (!data_ok(id_address) || !data_ok(sgn_rn) || !data_ok(sgn_address) || !cert_ok(cert8)) {
        CRYPTO_TRACE("ERROR in eidVerifySgnAddress, input missing or empty");
        return -1;
    }
    if (status == nullptr) {
        CRYPTO_TRACE("WARNING: sgn_stat is NULL");
        return -1;
    }
    trace_length(__func__, "id_address", id_address);
    S_EID_DATA address{};
    S_EID_DATA signed_data{};
    init_S_EID_DATA(&address);
    init_S_EID_DATA(&signed_data);
    int result = -1;
    if (eidTruncate(id_address, &address) == 0 && address.dta_len > 0) {
        CRYPTO_TRACE("INFO: id_address_new.dta_len = %i", static_cast<int>(address.dta_len));
        CRYPTO_DUMP(address.dta, address.dta_len);
        trace_length(__func__, "sgn_rn", sgn_rn);
        trace_length(__func__, "sgn_address", sgn_address);
        if (eidConcat(&address, sgn_rn, &signed_data) == 0 && signed_data.dta_len > 0) {
            CRYPTO_TRACE("INFO: eid_dta2vfy.dta_len = %i", static_cast<int>(signed_data.dta_len));
            CRYPTO_DUMP(signed_data.dta, signed_data.dta_len);
            result = eidVerifySgn(&signed_data, sgn_address, cert8, status);
        }
    }
    free_S_EID_DATA(&address);
    free_S_EID_DATA(&signed_data);
    CRYPTO_TRACE("EXITING: ");
    return result;
}

int eidVerifySgnPhoto(const S_EID_DATA* id_photo, const S_EID_DATA* id_rn, const S_EID_DATA* sgn_rn,
                      const S_EID_CERT* cert8, int* status) {
    CRYPTO_TRACE("ENTERING:");
    if (!data_ok(id_photo) || !data_ok(id_rn) || !data_ok(sgn_rn) || !cert_ok(cert8)) {
        CRYPTO_TRACE("ERROR in eidVerifySgnPhoto, input missing or empty");
        return -1;
    }
    if (status == nullptr) {
        CRYPTO_TRACE("WARNING: sgn_stat is NULL");
        return -1;
    }
    int digest_len = 0;
    std::unique_ptr<unsigned char, FreeDeleter> digest(
        sha1_digest(id_photo->dta, id_photo->dta_len, &digest_len));
    if (!digest) {
        CRYPTO_TRACE("WARNING: hash_id_photo is NULL");
        return -1;
    }
    CRYPTO_TRACE("id_photo->dta_len = %i", static_cast<int>(id_photo->dta_len));
    CRYPTO_TRACE("olen = %i", digest_len);
    CRYPTO_DUMP(digest.get(), static_cast<unsigned int>(digest_len));
    // An identity file shorter than the hash cannot hold it: a mismatch too.
    const bool hash_matches =
        id_rn->dta_len >= SHA1_DIGEST_LENGTH &&
        std::memcmp(digest.get(), id_rn->dta + id_rn->dta_len - SHA1_DIGEST_LENGTH, SHA1_DIGEST_LENGTH) == 0;
    int result = -1;
    if (hash_matches) {
        CRYPTO_DUMP(id_rn->dta + id_rn->dta_len - SHA1_DIGEST_LENGTH, SHA1_DIGEST_LENGTH);
        CRYPTO_TRACE("Hash id_photo OK: hash of id_photo matches hash in id_rn");
        result = eidVerifySgn(id_rn, sgn_rn, cert8, status);
    } else {
        CRYPTO_TRACE("ERROR: Hash id_photo NOT OK: hash of id_photo does not match hash in id_rn");
    }
    CRYPTO_TRACE("EXITING: ");
    return result;
}

int eidVerifySgnAuthentication(const S_EID_DATA* auth_chal, const S_EID_DATA* auth_sgn, const S_EID_CERT* cert2,
                               int* status) {
    CRYPTO_TRACE("ENTERING:");
    if (check_hsh_inputs("eidVerifySgnAuthentication", auth_chal, auth_sgn, cert2, status) != 0) return -1;
    trace_length(__func__, "auth_chal", auth_chal);
    trace_length(__func__, "auth_sgn", auth_sgn);
    const int result = eidVerifySgnHsh(auth_chal, auth_sgn, cert2, status);
    CRYPTO_TRACE("EXITING: ");
    return result;
}

int eidVerifySgnSigning(const S_EID_DATA* sign_hash, const S_EID_DATA* sign_sgn, const S_EID_CERT* cert3,
                        int* status) {
    CRYPTO_TRACE("ENTERING:");
    if (check_hsh_inputs("eidVerifySgnSigning", sign_hash, sign_sgn, cert3, status) != 0) return -1;
    trace_length(__func__, "sign_hash", sign_hash);
    trace_length(__func__, "sign_sgn", sign_sgn);
    const int result = eidVerifySgnHsh(sign_hash, sign_sgn, cert3, status);
    CRYPTO_TRACE("EXITING: ");
    return result;
}

int eidVerifySgnHsh(const S_EID_DATA* value, const S_EID_DATA* signature, const S_EID_CERT* certificate,
                    int* status) {
    if (!data_ok(value) || !data_ok(signature) || certificate == nullptr || status == nullptr) return -1;
    CRYPTO_TRACE("ENTERING:");
    CRYPTO_TRACE("cert->no = %i", static_cast<int>(certificate->no));
    PkeyPtr key = load_public_key(certificate, "eidVerifySgnHsh");
    if (!key) return -1;
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        CRYPTO_TRACE("ERROR in eidVerifySgnHsh, the certificate's key is not an RSA key");
        return -1;
    }
    const std::vector<unsigned char> sig = signature_at_key_size(signature, key.get());
    const auto block = raw_public_operation(key.get(), sig);
    const bool verified = block && value->dta_len == SHA1_DIGEST_LENGTH &&
                          is_type1_block_of(*block, static_cast<std::size_t>(EVP_PKEY_get_size(key.get())), bytes_of(value));
    *status = verified ? 1 : -1;
    ERR_clear_error();
    CRYPTO_TRACE("EXITING: ");
    return 0;
}
