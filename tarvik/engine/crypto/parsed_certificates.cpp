#include "tarvik/engine/crypto/parsed_certificates.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/file_reader.h"

namespace tarvik::crypto {

namespace {

struct Parsed {
    std::vector<unsigned char> der;
    X509Ptr cert;
    std::optional<std::string> pem;
    bool pem_made_in_scope = false;  // only those count for a saved file
};

// The last transaction's certificates are kept for the next one, which
// mostly reads the same card: parsing a certificate (its key decoded
// through the library's decoder lookup) is most of a transaction's own
// work. At most one transaction's certificates wait there.
struct Kept {
    int depth = 0;
    std::vector<Parsed> certificates;
    std::vector<Parsed> previous;
};

thread_local Kept t_kept;

X509Ptr new_reference(X509* cert) {
    X509_up_ref(cert);
    return X509Ptr(cert);
}

// A saved certificate file is small; anything larger is not one of ours.
constexpr std::size_t kPemFileMax = 64 * 1024;

std::optional<std::string> file_text(const std::string& path) {
    return kit::platform::read_regular_file(path, kPemFileMax);
}

}  // namespace

ParsedCertificateScope::ParsedCertificateScope() { ++t_kept.depth; }

ParsedCertificateScope::~ParsedCertificateScope() {
    if (--t_kept.depth != 0) return;
    for (auto& p : t_kept.certificates) p.pem_made_in_scope = false;
    t_kept.previous = std::move(t_kept.certificates);
    t_kept.certificates.clear();
}

X509Ptr parse_der_certificate(std::span<const unsigned char> der) {
    const auto same_bytes = [der](const Parsed& p) { return std::ranges::equal(p.der, der); };
    if (t_kept.depth > 0) {
        for (const auto& p : t_kept.certificates)
            if (same_bytes(p)) return new_reference(p.cert.get());
        if (const auto kept = std::ranges::find_if(t_kept.previous, same_bytes); kept != t_kept.previous.end()) {
            t_kept.certificates.push_back(std::move(*kept));
            t_kept.previous.erase(kept);
            return new_reference(t_kept.certificates.back().cert.get());
        }
    }
    const unsigned char* position = der.data();
    X509Ptr cert(d2i_X509(nullptr, &position, static_cast<long>(der.size())));
    if (!cert || t_kept.depth == 0) return cert;
    t_kept.certificates.push_back({std::vector<unsigned char>(der.begin(), der.end()), new_reference(cert.get()), {}});
    return cert;
}

std::optional<std::string> pem_text_of(X509* cert) {
    Parsed* kept = nullptr;
    for (auto& p : t_kept.certificates)
        if (p.cert.get() == cert) kept = &p;
    if (kept && kept->pem) {
        kept->pem_made_in_scope = true;
        return kept->pem;
    }
    std::unique_ptr<BIO, Deleter<BIO_free>> memory(BIO_new(BIO_s_mem()));
    if (!memory || PEM_write_bio_X509(memory.get(), cert) != 1) return std::nullopt;
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory.get(), &data);
    if (length < 0) return std::nullopt;
    std::string text(data, static_cast<std::size_t>(length));
    if (kept) {
        kept->pem = text;
        kept->pem_made_in_scope = true;
    }
    return text;
}

X509Ptr certificate_saved_in(const std::string& path) {
    if (t_kept.depth == 0 || t_kept.certificates.empty()) return nullptr;
    const auto text = file_text(path);
    if (!text) return nullptr;
    for (const auto& p : t_kept.certificates)
        if (p.pem_made_in_scope && p.pem && *p.pem == *text) return new_reference(p.cert.get());
    return nullptr;
}

SavedFile saved_file_state(const std::string& path, X509* cert) {
    const auto text = file_text(path);
    if (!text) return SavedFile::unreadable;
    const auto saved = pem_text_of(cert);
    return saved && *saved == *text ? SavedFile::holds_it : SavedFile::changed;
}

}  // namespace tarvik::crypto
