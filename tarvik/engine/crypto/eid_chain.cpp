#include <openssl/pem.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>

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

// A file this transaction saved is not parsed again: its certificate is
// the one it was saved from.
void load_trusted(X509_STORE* store, X509_LOOKUP* lookup, const std::string& name, const char* label) {
    const X509Ptr saved = certificate_saved_in(name);
    if (saved && X509_STORE_add_cert(store, saved.get()) == 1) {
        CHAIN_TRACE("call to X509_LOOKUP_load_file(lookup, %s, X509_FILETYPE_PEM) was successful", label);
        return;
    }
    if (X509_LOOKUP_load_file(lookup, name.c_str(), X509_FILETYPE_PEM) != 1) {
        CHAIN_TRACE("ERROR: X509_LOOKUP_load_file with %s failed, err = %s", name.c_str(), last_error_text().c_str());
        return;
    }
    CHAIN_TRACE("call to X509_LOOKUP_load_file(lookup, %s, X509_FILETYPE_PEM) was successful", label);
}

X509Ptr read_pem_file(const std::string& name) {
    if (X509Ptr saved = certificate_saved_in(name)) return saved;
    FilePtr file(std::fopen(name.c_str(), "r"));
    if (!file) {
        CHAIN_TRACE("fopen(%s, r) failed", name.c_str());
        return nullptr;
    }
    return X509Ptr(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
}

// The store of the two trust anchors, or nothing when a library step failed.
StorePtr make_store(const std::string& intermediate, const std::string& root) {
    StorePtr store(X509_STORE_new());
    if (!store) {
        CHAIN_TRACE("ERROR: X509_STORE_new failed, err = %s", last_error_text().c_str());
        return nullptr;
    }
    CHAIN_TRACE("call to X509_STORE_new() was successful");
    X509_STORE_set_verify_cb(store.get(), verify_cb);
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
    if (lookup == nullptr) {
        CHAIN_TRACE("ERROR: X509_STORE_add_lookup with X509_LOOKUP_file() failed, err = %s",
                     last_error_text().c_str());
        return nullptr;
    }
    CHAIN_TRACE("call to X509_STORE_add_lookup(store, X509_LOOKUP_file()) was successful");
    load_trusted(store.get(), lookup, root, "x509cert3_pem_fn");
    load_trusted(store.get(), lookup, intermediate, "x509cert2_pem_fn");
    if (X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir()) == nullptr) {
        CHAIN_TRACE("ERROR: X509_STORE_add_lookup with X509_LOOKUP_hash_dir() failed, err=%s",
                     last_error_text().c_str());
        return nullptr;
    }
    CHAIN_TRACE("call to X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()) was successful");
    return store;
}

// 1 chain verified, -1 not, nothing when the check could not be made.
std::optional<int> verify_chain(X509_STORE* store, X509* cert) {
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx) {
        CHAIN_TRACE("ERROR: X509_STORE_CTX_new failed, err = %s", last_error_text().c_str());
        return std::nullopt;
    }
    CHAIN_TRACE("call to X509_STORE_CTX_new() was successful");
    if (X509_STORE_CTX_init(ctx.get(), store, cert, nullptr) != 1) {
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
    if (StorePtr store = make_store(*intermediate_name, *root_name)) {
        if (X509Ptr leaf = read_pem_file(*leaf_name)) {
            if (const auto verified = verify_chain(store.get(), leaf.get())) {
                *ccv_stat = *verified;
                CRYPTO_TRACE("*ccv_stat = %i", *ccv_stat);
                result = 0;
            }
        } else {
            CRYPTO_TRACE("ERROR: PEM_read_X509 to get crt2vfy failed, err = %s", last_error_text().c_str());
        }
    }
    ERR_clear_error();
    CRYPTO_TRACE("EXITING: ");
    return result;
}
