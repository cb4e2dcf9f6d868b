// Local checks of what the card hands over (signatures of the identity and
// address files, the photo hash, challenge and hash signatures, the
// certificate chain), PEM copies of card certificates, SHA-1, base64 and two
// byte-string helpers.
//
// Result and status convention of every verification:
//   result  0 the check was made, -1 it could not be (input missing or
//           empty, certificate or key not loadable, a library step failed);
//   *status 1 verified, -1 checked and not verified; written only when the
//           check was made (left as it was on a -1 result).
// Certificates are taken from crt (DER) or, failing that, from the PEM file
// named by dsc (names of at most CRYPTO_FILE_NAME_MAX characters), but only
// while it holds exactly what the current transaction saved to it.
#ifndef TARVIK_ENGINE_CRYPTO_EID_CRYPTO_H
#define TARVIK_ENGINE_CRYPTO_EID_CRYPTO_H

#include <cstddef>
#include <cstdint>

#include <openssl/x509.h>

#include "tarvik/engine/eid_records.h"

inline constexpr std::size_t CRYPTO_FILE_NAME_MAX = 4095;
inline constexpr int SHA1_DIGEST_LENGTH = 20;

// RSA-SHA1 (PKCS #1 v1.5) signature over data. A signature shorter than the
// key (its trailing zero bytes trimmed away) is zero-extended to the key size.
int eidVerifySgn(const S_EID_DATA* data, const S_EID_DATA* signature, const S_EID_CERT* certificate, int* status);
// Identity file against its signature and certificate 8; `unused` is ignored.
int eidVerifySgnRn(const S_EID_DATA* id_rn, const S_EID_DATA* unused, const S_EID_DATA* sgn_rn,
                   const S_EID_CERT* cert8, int* status);
// Address file (trailing zero bytes dropped) followed by the identity
// signature, against the address signature.
int eidVerifySgnAddress(const S_EID_DATA* id_address, const S_EID_DATA* sgn_rn, const S_EID_DATA* sgn_address,
                        const S_EID_CERT* cert8, int* status);
// SHA-1 of the photo must equal the last 20 bytes of the identity file
// (else -1, status untouched); then the identity signature is checked.
int eidVerifySgnPhoto(const S_EID_DATA* id_photo, const S_EID_DATA* id_rn, const S_EID_DATA* sgn_rn,
                      const S_EID_CERT* cert8, int* status);
// A 20-byte challenge or hash signed by the card with the key of certificate
// 2 (authentication) or 3 (signing).
int eidVerifySgnAuthentication(const S_EID_DATA* auth_chal, const S_EID_DATA* auth_sgn, const S_EID_CERT* cert2,
                               int* status);
int eidVerifySgnSigning(const S_EID_DATA* sign_hash, const S_EID_DATA* sign_sgn, const S_EID_CERT* cert3,
                        int* status);
// Raw RSA public-key operation on the signature; verified only when the
// value is 20 bytes and the recovered block is the whole PKCS #1 type-1
// block at the key's size: 00 01, at least eight FF, 00, then the value. A
// block that merely ends with the value, or a failed RSA step, gives status
// -1. Keys other than RSA are refused (-1).
int eidVerifySgnHsh(const S_EID_DATA* value, const S_EID_DATA* signature, const S_EID_CERT* certificate,
                    int* status);

// Chain of a certificate up to the intermediate and root, all three saved as
// PEM files before (dsc); the root is the only trust anchor, the
// intermediate an untrusted link, so a chain verifies only when it reaches
// the root. The certificates are the records' own (crt): a saved file is
// only compared with what was saved from it. A removed or unreadable
// intermediate or root file leaves it out (status -1); a file that no
// longer holds exactly what was saved fails the check (-1). Expired
// certificates, invalid CA, path length and purpose errors are tolerated; a
// certificate to verify that is self-issued or equal to the intermediate or
// root gets status -1. The anchor is the card's own root: a pass proves the
// card's certificates agree with each other, not who issued the card; a
// caller that compares that root with the authority's knows that too.
int eidVerifyCertificateChain(const S_EID_CERT* certificate, const S_EID_CERT* intermediate, const S_EID_CERT* root,
                              int* ccv_stat);
// The store's verification callback: ok raised to 1 for the tolerated errors.
int verify_cb(int ok, X509_STORE_CTX* context);

// Parses crt into *result (the caller frees it with X509_free): 0 / -1.
int eidReadX509Certificate(X509** result, const S_EID_CERT* certificate);
// Writes the certificate as one PEM block to path and records path as its
// dsc. An empty path does nothing (0). -1 when the certificate does not
// parse or the file cannot be opened, written or closed, or its name is a
// symbolic link, which is never followed (no name recorded).
int eidSaveX509(S_EID_CERT* certificate, const char* path);

// SHA-1 of count bytes in a new heap block of 36 bytes (free()), *length 20;
// null when the input is absent or empty.
unsigned char* sha1_digest(const unsigned char* bytes, uint32_t count, int* length);
// output = SHA-1 of input (20 bytes); what output held before is freed. 0 / -1.
int eidSha1(const S_EID_DATA* input, S_EID_DATA* output);

// Standard base64 with "=" padding and no line breaks, NUL-terminated.
// The text buffer must hold base64_encoded_size(count) bytes. 0 / -1.
int dataToBase64(const unsigned char* bytes, uint32_t count, char* text, int* length);
// The same with the buffer's capacity checked: -1 when it is too small.
int dataToBase64(const unsigned char* bytes, uint32_t count, char* text, int* length, std::size_t capacity);
// Decodes base64 (leading and trailing white space skipped); "=" padding
// counts as zero bytes in *count. The byte buffer must hold
// base64_decoded_size(length) bytes. 0 / -1.
int base64ToData(const char* text, uint32_t length, unsigned char* bytes, int* count);
// The same with the buffer's capacity checked: -1 when the bytes do not fit.
int base64ToData(const char* text, uint32_t length, unsigned char* bytes, int* count, std::size_t capacity);
constexpr std::size_t base64_encoded_size(std::size_t count) { return 4 * ((count + 2) / 3) + 1; }
constexpr std::size_t base64_decoded_size(std::size_t length) { return 3 * (length / 4); }

// output = input without its trailing zero bytes (empty when all are zero).
int eidTruncate(const S_EID_DATA* input, S_EID_DATA* output);
// output = first followed by second.
int eidConcat(const S_EID_DATA* first, const S_EID_DATA* second, S_EID_DATA* output);

#endif
