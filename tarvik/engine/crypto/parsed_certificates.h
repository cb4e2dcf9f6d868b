// Card certificates parsed once per transaction. While a scope lives on the
// thread, the DER bytes of a certificate are parsed at most once, and a PEM
// file that holds exactly the text saved for a certificate in the scope
// gives that certificate back instead of being parsed again. The next scope
// on the thread takes over the certificates of the last one whose bytes it
// meets again, but never their saved texts. Outside a scope every call
// parses afresh. The results are those of parsing anew: equal bytes make an
// equal certificate.
#ifndef TARVIK_ENGINE_CRYPTO_PARSED_CERTIFICATES_H
#define TARVIK_ENGINE_CRYPTO_PARSED_CERTIFICATES_H

#include <optional>
#include <span>
#include <string>

#include "tarvik/engine/crypto/openssl_handles.h"

namespace tarvik::crypto {

// Scopes nest; the outermost one ends the reuse, keeps its certificates for
// the next scope on the thread and frees those of the one before.
class ParsedCertificateScope {
public:
    ParsedCertificateScope();
    ~ParsedCertificateScope();
    ParsedCertificateScope(const ParsedCertificateScope&) = delete;
    ParsedCertificateScope& operator=(const ParsedCertificateScope&) = delete;
};

// The certificate of these DER bytes (a reference of the caller's own), or
// null when they do not parse.
X509Ptr parse_der_certificate(std::span<const unsigned char> der);
// The PEM text of the certificate (one CERTIFICATE block, as the library
// writes it), or nothing when it cannot be made.
std::optional<std::string> pem_text_of(X509* cert);
// The certificate whose PEM text this scope made, when the file at path
// holds exactly that text; null otherwise (no scope, no such file, other
// content).
X509Ptr certificate_saved_in(const std::string& path);

// What the PEM file at path holds against the text saved from cert: exactly
// that text, nothing readable (missing, not a regular file), or anything
// else, which another writer put there.
enum class SavedFile { holds_it, unreadable, changed };
SavedFile saved_file_state(const std::string& path, X509* cert);

}  // namespace tarvik::crypto

#endif
