#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"
#include "tarvik/engine/crypto/parsed_certificates.h"

using namespace tarvik::crypto;

// The helpers trace under the name of the chain check they serve.
#define CHAIN_TRACE(...) __tracef(ORVEL_DEBUG, "eidVerifyCertificateChain", __FILE__, __LINE__, __VA_ARGS__)

namespace {

// Errors the card's own chains are known to raise and that are tolerated.
// Matched by name: their numbers differ between library versions.
bool tolerated(int error, int depth) {
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_INVALID_PURPOSE:
            return true;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            // Never in place of the certificate being checked.
            return depth > 0;
        default:
            return false;
    }
}

std::optional<std::string> pem_name(const S_EID_CERT* cert) {
    if (cert->dsc == nullptr || cert->dsc_len == 0) return std::nullopt;
    std::string name(cert->dsc, strnlen(cert->dsc, cert->dsc_len));
    if (name.size() > CRYPTO_FILE_NAME_MAX) return std::nullopt;
    return name;
}

// One certificate of the check: the card's, from its DER bytes, and the PEM
// file it was saved to. The file is only compared, never parsed: what
// counts is the card's certificate, and a file another writer changed since
// it was saved makes the check fail.
struct Saved {
    X509Ptr cert;  // null when the card's bytes do not parse
    SavedFile file;
};

Saved saved_certificate(const S_EID_CERT* record, const std::string& name) {
    Saved saved{parse_der_certificate({record->crt, record->crt_len}), SavedFile::changed};
    if (saved.cert) saved.file = saved_file_state(name, saved.cert.get());
    return saved;
}

void trace_changed(const std::string& name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, "eidVerifyCertificateChain", file, line,
             "ERROR: %s no longer holds the certificate saved from the card", name.c_str());
}

// The root, the only trust anchor, in the store; the intermediate among the
// untrusted certificates, so that a chain verifies only when it reaches the
// root. A trusted intermediate would end any chain issued under it.
// The untrusted list owns none of its certificates: the Saved records do.
struct ChainParts {
    StorePtr store;
    X509ListPtr untrusted;
};

// A certificate whose file is gone or unreadable is left out (traced), and
// the chain then fails to verify; false when its file was changed.
template <typename Add>
bool take_part(const Saved& part, const std::string& name, const char* label, Add add) {
    if (part.file == SavedFile::changed) {
        trace_changed(name);
        return false;
    }
    if (part.file == SavedFile::holds_it && add(part.cert.get())) {
        CHAIN_TRACE("call to X509_LOOKUP_load_file(lookup, %s, X509_FILETYPE_PEM) was successful", label);
        return true;
    }
    CHAIN_TRACE("ERROR: X509_LOOKUP_load_file with %s failed, err = %s", name.c_str(), last_error_text().c_str());
    return true;
}

// The store and the untrusted certificates, or nothing when a library step
// failed or a file was changed.
std::optional<ChainParts> make_parts(const Saved& intermediate, const std::string& intermediate_name,
                                     const Saved& root, const std::string& root_name) {
    ChainParts parts{StorePtr(X509_STORE_new()), X509ListPtr(sk_X509_new_null())};
    if (!parts.store) {
        CHAIN_TRACE("ERROR: X509_STORE_new failed, err = %s", last_error_text().c_str());
        return std::nullopt;
    }
    CHAIN_TRACE("call to X509_STORE_new() was successful");
    if (!parts.untrusted) {
        CHAIN_TRACE("ERROR: sk_X509_new_null failed, err = %s", last_error_text().c_str());
        return std::nullopt;
    }
    X509_STORE* store = parts.store.get();
    X509_STORE_set_verify_cb(store, verify_cb);
    if (X509_STORE_add_lookup(store, X509_LOOKUP_file()) == nullptr) {
        CHAIN_TRACE("ERROR: X509_STORE_add_lookup with X509_LOOKUP_file() failed, err = %s",
                     last_error_text().c_str());
        return std::nullopt;
    }
    CHAIN_TRACE("call to X509_STORE_add_lookup(store, X509_LOOKUP_file()) was successful");
    const auto trust = [store](X509* cert) { return X509_STORE_add_cert(store, cert) == 1; };
    const auto untrusted = [stack = parts.untrusted.get()](X509* cert) { return sk_X509_push(stack, cert) > 0; };
    if (!take_part(root, root_name, "x509cert3_pem_fn", trust) ||
        !take_part(intermediate, intermediate_name, "x509cert2_pem_fn", untrusted))
        return std::nullopt;
    if (X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()) == nullptr) {
        CHAIN_TRACE("ERROR: X509_STORE_add_lookup with X509_LOOKUP_hash_dir() failed, err=%s",
                     last_error_text().c_str());
        return std::nullopt;
    }
    CHAIN_TRACE("call to X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()) was successful");
    return parts;
}

// The certificate to verify, or null when its file is unreadable or changed.
X509Ptr certificate_to_verify(const S_EID_CERT* record, const std::string& name) {
    Saved leaf = saved_certificate(record, name);
    if (leaf.file == SavedFile::holds_it) return std::move(leaf.cert);
    if (leaf.file == SavedFile::changed)
        trace_changed(name);
    else
        CHAIN_TRACE("fopen(%s, r) failed", name.c_str());
    CHAIN_TRACE("ERROR: PEM_read_X509 to get crt2vfy failed, err = %s", last_error_text().c_str());
    return nullptr;
}

// A certificate that names itself as its issuer, or is the intermediate or
// root it is checked under, proves nothing: the library takes the root as
// its own trust anchor, and the intermediate verifies as the CA it is.
bool anchors_itself(X509* leaf, const Saved& intermediate, const Saved& root) {
    if (X509_NAME_cmp(X509_get_subject_name(leaf), X509_get_issuer_name(leaf)) == 0) return true;
    for (const Saved* anchor : {&intermediate, &root})
        if (anchor->cert && X509_cmp(leaf, anchor->cert.get()) == 0) return true;
    return false;
}

// 1 chain verified, -1 not, nothing when the check could not be made.
std::optional<int> verify_chain(const ChainParts& parts, X509* cert) {
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx) {
        CHAIN_TRACE("ERROR: X509_STORE_CTX_new failed, err = %s", last_error_text().c_str());
        return std::nullopt;
    }
    CHAIN_TRACE("call to X509_STORE_CTX_new() was successful");
    if (X509_STORE_CTX_init(ctx.get(), parts.store.get(), cert, parts.untrusted.get()) != 1) {
        CHAIN_TRACE("ERROR: X509_STORE_CTX_init failed, err = %s", last_error_text().c_str());
        return std::nullopt;
    }
    CHAIN_TRACE("call to X509_STORE_CTX_init(store_ctx, store, crt2vfy, NULL) was successful");
    const int i = X509_verify_cert(ctx.get());
    CHAIN_TRACE("i = %i", i);
    if (i == 1) {
        CHAIN_TRACE("call to X509_verify_cert(store_ctx) was successful");
        return 1;
    }
    CHAIN_TRACE("ERROR: X509_verify_cert failed, err = %s",
                 X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get())));
    return -1;
}

}  // namespace

int verify_cb(int ok, X509_STORE_CTX* context) {
    if (ok == 0 && context != nullptr) {
        std::array<char, 256> subject{};
        if (X509* current = X509_STORE_CTX_get_current_cert(context))
            X509_NAME_oneline(X509_get_subject_name(current), subject.data(), static_cast<int>(subject.size()));
        const int error = X509_STORE_CTX_get_error(context);
        const int depth = X509_STORE_CTX_get_error_depth(context);
        if (tolerated(error, depth)) ok = 1;
        CRYPTO_TRACE("%s(%d) at depth:%d SubjectName:%s\n", X509_verify_cert_error_string(error), error, depth,
                     subject.data());
    }
    ERR_clear_error();
    return ok;
}

int eidVerifyCertificateChain(const S_EID_CERT* certificate, const S_EID_CERT* intermediate, const S_EID_CERT* root,
                              int* ccv_stat) {
    CRYPTO_TRACE("ENTERING:");
    for (const S_EID_CERT* c : {certificate, intermediate, root}) {
        if (c == nullptr || ctrl_S_EID_CERT(c) != 0) return -1;
    }
    if (ccv_stat == nullptr) {
        CRYPTO_TRACE("ERROR in eidVerifyCertificateChain(...), function argument ccv_stat is NULL");
        return -1;
    }
    const auto leaf_name = pem_name(certificate);
    const auto intermediate_name = pem_name(intermediate);
    const auto root_name = pem_name(root);
    if (!leaf_name || !intermediate_name || !root_name) {
        CRYPTO_TRACE("ERROR in eidVerifyCertificateChain(...), member dsc in S_EID_CERT is NULL");
        return -1;
    }
    CRYPTO_TRACE("x509cert1_pem_fn = %s", leaf_name->c_str());
    CRYPTO_TRACE("x509cert2_pem_fn = %s", intermediate_name->c_str());
    CRYPTO_TRACE("x509cert3_pem_fn = %s", root_name->c_str());

    int result = -1;
    // Parsed once: for the chain and against the leaf.
    const Saved intermediate_saved = saved_certificate(intermediate, *intermediate_name);
    const Saved root_saved = saved_certificate(root, *root_name);
    if (const auto parts = make_parts(intermediate_saved, *intermediate_name, root_saved, *root_name)) {
        if (X509Ptr leaf = certificate_to_verify(certificate, *leaf_name)) {
            const bool self_anchored = anchors_itself(leaf.get(), intermediate_saved, root_saved);
            if (self_anchored) CHAIN_TRACE("ERROR: the certificate to verify is self-issued or its own anchor");
            const auto verified = self_anchored ? std::optional<int>(-1) : verify_chain(*parts, leaf.get());
            if (verified) {
                *ccv_stat = *verified;
                CRYPTO_TRACE("*ccv_stat = %i", *ccv_stat);
                result = 0;
            }
        }
    }
    ERR_clear_error();
    CRYPTO_TRACE("EXITING: ");
    return result;
}
