// testpki: makes a complete test PKI and the card files that go with it, for
// the tests and the virtual card. Everything is made fresh on each run.
//
//   testpki OUTDIR [--bits 1024|2048]
//
// Files written to OUTDIR (keys as PKCS #8 PEM, certificates as PEM and DER):
//   root.*       self-signed root CA                      (card certificate 6)
//   ca.*         intermediate CA, signed by root          (card certificate 4)
//   auth.*       authentication certificate, signed by ca (card certificate 2)
//   sign.*       signing certificate, signed by ca        (card certificate 3)
//   rrn.*        national-register certificate, by root   (card certificate 8)
//   auth_expired.{pem,der}  the auth key in a certificate that expired
//   selfsigned.{pem,der}    the auth key in a self-signed certificate
//   rrn_selfsigned.{pem,der} the rrn key in a self-signed certificate
//   auth_notyet.{pem,der}   the auth key in a certificate valid from next month
//   ca_not_ca.{pem,der}     the ca key and name in a certificate that is no CA
//   root_pathlen0.{pem,der} the root key and name with a path length of 0
//   identity.bin identity file (tags 1-17, the last the photo's SHA-1)
//   identity.sig its RSA-SHA1 signature by rrn
//   address.bin  address file (tags 1-3) padded with zero bytes to 117 bytes
//   address.sig  RSA-SHA1 signature by rrn over the unpadded address file
//                followed by identity.sig
//   photo.jpg    the photo
//   challenge.bin, challenge.sig  20 bytes and their PKCS #1 type-1 signature
//                (raw, no DigestInfo) by the auth key, as the card makes it
//   hash.bin, hash.sig            the same with the sign key
//   zerotail.bin, zerotail.sig    data whose RSA-SHA1 signature by rrn ends
//                in a zero byte
//   foreign_root.{pem,der}  a root CA of the same name with a key of its own
//   own_ca.{pem,der}        a self-signed CA of the intermediate's name with a
//                key of its own
//   own_auth.{pem,der}, own_sign.{pem,der}  the auth and sign keys in
//                certificates issued by own_ca
//   zt_photo.jpg, zt_identity.bin, zt_identity.sig, zt_address.sig
//                a card set whose photo's SHA-1 (the identity file's last
//                item) and identity signature both end in a zero byte
//   tag0_00_*, tag0_0000_* (photo.jpg, identity.bin, identity.sig, address.sig)
//                card sets whose identity file begins with a tag-0 item and
//                whose photo's SHA-1 ends in exactly one / two zero bytes
//   sis_valid.bin, sis_bad_pbdf.bin, sis_bad_isdf.bin, sis_zero.bin
//                1,024-byte SLE4418 memory images of an SIS card: valid, with
//                a wrong PBDF or ISDF check byte, all zero
// Exit status 0 on success (and for --help); 2 on a usage error; 1 with a
// message on standard error when the files cannot be made.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarvik/engine/crypto/openssl_handles.h"

namespace {

using Bytes = std::vector<unsigned char>;

using tarvik::crypto::Deleter;
using KeyPtr = tarvik::crypto::PkeyPtr;
using CertPtr = tarvik::crypto::X509Ptr;
using KeyCtxPtr = tarvik::crypto::PkeyCtxPtr;
using tarvik::crypto::MdCtxPtr;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

std::string g_dir;

void write_file(const std::string& name, const Bytes& bytes) {
    std::ofstream out(g_dir + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    require(out.good(), ("cannot write " + name).c_str());
}

KeyPtr make_key(unsigned bits) {
    KeyPtr key(EVP_RSA_gen(bits));
    require(key != nullptr, "RSA key generation failed");
    return key;
}

void add_extension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    require(ext && X509_add_ext(cert, ext.get(), -1) == 1, "extension failed");
}

struct CertProfile {
    const char* common_name;
    long serial;
    long not_before_days;  // relative to now
    long not_after_days;
    bool ca;
    const char* key_usage;
    const char* basic_constraints = nullptr;  // in place of the one ca implies
};

// A certificate for key, signed by issuer_key (issuer null: self-signed).
CertPtr make_cert(const CertProfile& profile, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key) {
    CertPtr cert(X509_new());
    require(cert != nullptr, "X509_new failed");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), profile.serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), profile.not_before_days * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), profile.not_after_days * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("BE"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(profile.common_name), -1,
                               -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    const char* constraints = profile.ca ? "critical,CA:TRUE" : "critical,CA:FALSE";
    add_extension(cert.get(), signer, NID_basic_constraints,
                  profile.basic_constraints != nullptr ? profile.basic_constraints : constraints);
    add_extension(cert.get(), signer, NID_key_usage, profile.key_usage);
    add_extension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer != nullptr) add_extension(cert.get(), signer, NID_authority_key_identifier, "keyid");
    require(X509_sign(cert.get(), issuer_key, EVP_sha256()) > 0, "X509_sign failed");
    return cert;
}

Bytes der_of(X509* cert) {
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    require(n > 0, "i2d_X509 failed");
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

void save_cert(const std::string& base, X509* cert) {
    write_file(base + ".der", der_of(cert));
    std::FILE* f = std::fopen((g_dir + "/" + base + ".pem").c_str(), "wb");
    require(f != nullptr && PEM_write_X509(f, cert) == 1, "PEM write failed");
    require(std::fclose(f) == 0, "close failed");
}

void save_key(const std::string& base, EVP_PKEY* key) {
    std::FILE* f = std::fopen((g_dir + "/" + base + ".key.pem").c_str(), "wb");
    require(f != nullptr && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
            "key write failed");
    require(std::fclose(f) == 0, "close failed");
}

Bytes sign_sha1(EVP_PKEY* key, const Bytes& data) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    std::size_t len = 0;
    require(ctx && EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key) == 1 &&
                EVP_DigestSign(ctx.get(), nullptr, &len, data.data(), data.size()) == 1,
            "sign init failed");
    Bytes sig(len);
    require(EVP_DigestSign(ctx.get(), sig.data(), &len, data.data(), data.size()) == 1, "sign failed");
    sig.resize(len);
    return sig;
}

// The card's own signature of a 20-byte value: PKCS #1 type-1 padding around
// the value itself.
Bytes sign_raw(EVP_PKEY* key, const Bytes& value) {
    KeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    std::size_t len = 0;
    require(ctx && EVP_PKEY_sign_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_sign(ctx.get(), nullptr, &len, value.data(), value.size()) == 1,
            "raw sign init failed");
    Bytes sig(len);
    require(EVP_PKEY_sign(ctx.get(), sig.data(), &len, value.data(), value.size()) == 1, "raw sign failed");
    sig.resize(len);
    return sig;
}

Bytes sha1(const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    require(EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sha1(), nullptr) == 1, "digest failed");
    out.resize(n);
    return out;
}

void add_item(Bytes& file, unsigned char tag, const Bytes& value) {
    file.push_back(tag);
    file.push_back(static_cast<unsigned char>(value.size()));
    file.insert(file.end(), value.begin(), value.end());
}

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// A photo whose SHA-1 does not end in a zero byte (the card read trims
// trailing zeros from the identity file, which ends with that hash).
Bytes make_photo() {
    Bytes photo{0xFF, 0xD8, 0xFF, 0xE0};
    for (int i = 0; i < 3000; ++i) photo.push_back(static_cast<unsigned char>((i * 37 + 11) & 0xFF));
    photo.push_back(0xFF);
    photo.push_back(0xD9);
    while (sha1(photo).back() == 0) photo.insert(photo.end() - 2, 0x00);
    return photo;
}

Bytes make_identity(const Bytes& photo_hash) {
    Bytes id;
    add_item(id, 1, text("591234567890"));
    add_item(id, 2, {0x53, 0x4C, 0x49, 0x4E, 0x33, 0x66, 0x00, 0x29, 0x6C, 0xFF, 0x26, 0x23, 0x66, 0x0B, 0x08, 0x21});
    add_item(id, 3, text("01.02.2020"));
    add_item(id, 4, text("01.02.2030"));
    add_item(id, 5, text("Brussel"));
    add_item(id, 6, text("85073012345"));
    add_item(id, 7, text("Peeters"));
    add_item(id, 8, text("Jan Pieter"));
    add_item(id, 9, text("K"));
    add_item(id, 10, text("Belg"));
    add_item(id, 11, text("Gent"));
    add_item(id, 12, text("30 JUL 1985"));
    add_item(id, 13, text("M"));
    add_item(id, 14, {});
    add_item(id, 15, text("1"));
    add_item(id, 16, text("0"));
    add_item(id, 17, photo_hash);
    return id;
}

Bytes make_address() {
    Bytes address;
    add_item(address, 1, text("Kerkstraat 12"));
    add_item(address, 2, text("9000"));
    add_item(address, 3, text("Gent"));
    return address;
}

Bytes make_identity_with_number(const Bytes& photo_hash, unsigned number) {
    Bytes id = make_identity(photo_hash);
    char digits[13];
    std::snprintf(digits, sizeof digits, "%012u", number);
    std::copy(digits, digits + 12, id.begin() + 2);  // value of item 1
    return id;
}

// Photo, identity, and the two signatures, with a photo hash and an identity
// signature that end in a zero byte.
void make_zero_tail_set(EVP_PKEY* rrn_key) {
    Bytes photo = make_photo();
    for (unsigned counter = 0; sha1(photo).back() != 0; ++counter) {
        photo[4] = static_cast<unsigned char>(counter & 0xFF);
        photo[5] = static_cast<unsigned char>((counter >> 8) & 0xFF);
    }
    const Bytes hash = sha1(photo);
    for (unsigned number = 100000000u;; ++number) {
        const Bytes identity = make_identity_with_number(hash, number);
        const Bytes signature = sign_sha1(rrn_key, identity);
        if (signature.back() != 0) continue;
        Bytes address_signed = make_address();
        address_signed.insert(address_signed.end(), signature.begin(), signature.end());
        write_file("zt_photo.jpg", photo);
        write_file("zt_identity.bin", identity);
        write_file("zt_identity.sig", signature);
        write_file("zt_address.sig", sign_sha1(rrn_key, address_signed));
        return;
    }
}

// Photo, identity (a tag-0 item first) and signatures, with a photo hash
// ending in exactly `zeros` zero bytes; files named prefix + the usual name.
void make_tag_zero_set(EVP_PKEY* rrn_key, std::size_t zeros, const std::string& prefix) {
    auto zero_tail = [zeros](const Bytes& hash) {
        std::size_t n = 0;
        while (n < hash.size() && hash[hash.size() - 1 - n] == 0) ++n;
        return n == zeros;
    };
    Bytes photo = make_photo();
    for (unsigned counter = 0; !zero_tail(sha1(photo)); ++counter) {
        photo[4] = static_cast<unsigned char>(counter & 0xFF);
        photo[5] = static_cast<unsigned char>((counter >> 8) & 0xFF);
        photo[6] = static_cast<unsigned char>((counter >> 16) & 0xFF);
    }
    Bytes identity;
    add_item(identity, 0, {0x01});
    const Bytes items = make_identity(sha1(photo));
    identity.insert(identity.end(), items.begin(), items.end());
    const Bytes signature = sign_sha1(rrn_key, identity);
    Bytes address_signed = make_address();
    address_signed.insert(address_signed.end(), signature.begin(), signature.end());
    write_file(prefix + "photo.jpg", photo);
    write_file(prefix + "identity.bin", identity);
    write_file(prefix + "identity.sig", signature);
    write_file(prefix + "address.sig", sign_sha1(rrn_key, address_signed));
}

void put(Bytes& memory, std::size_t at, const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), memory.begin() + static_cast<long>(at)); }

unsigned char xor_of(const Bytes& memory, std::size_t from, std::size_t count) {
    unsigned char x = 0;
    for (std::size_t i = 0; i < count; ++i) x = static_cast<unsigned char>(x ^ memory[from + i]);
    return x;
}

// SLE4418 memory: head at 0, ISDF (44 bytes) at 60, PBDF (100 bytes) at 104.
Bytes make_sis_memory() {
    Bytes m(1024, 0);
    for (std::size_t i = 0; i < 60; ++i) m[i] = static_cast<unsigned char>(0xA0 + i);
    constexpr std::size_t isdf = 60;
    put(m, isdf + 0, {0x01, 0x02});                        // FIDN
    put(m, isdf + 2, {0x03});                              // FSKI
    put(m, isdf + 3, {0x85, 0x07, 0x30, 0x12, 0x34, 0x56}); // SSIN
    put(m, isdf + 9, {0x20, 0x24, 0x01, 0x15});            // DCDT
    put(m, isdf + 13, text("MUT123"));                     // CNME
    put(m, isdf + 19, text("N"));                          // CLAN
    put(m, isdf + 20, {0x00, 0x00, 0x30, 0x39});           // CLGN 12345
    put(m, isdf + 24, {0x20, 0x20, 0x01, 0x01});           // CBDT
    put(m, isdf + 28, {0x99, 0x99, 0x99, 0x99});           // CEDT
    put(m, isdf + 32, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});  // FILLER
    put(m, isdf + 39, {0xDE, 0xAD, 0xBE, 0xEF});           // FCTF
    m[isdf + 43] = xor_of(m, isdf, 43);
    constexpr std::size_t pbdf = 104;
    put(m, pbdf + 0, {0x0A, 0x0B});                        // FIDN
    put(m, pbdf + 2, {0x0C});                              // FSKI
    put(m, pbdf + 3, {0x85, 0x07, 0x30, 0x12, 0x34, 0x56}); // SSIN
    put(m, pbdf + 9, {0x20, 0x24, 0x01, 0x15});            // DCDT
    put(m, pbdf + 13, text("PEETERS"));                    // NAME
    put(m, pbdf + 61, text("JAN"));                        // SNME
    put(m, pbdf + 85, text("P"));                          // INIT
    put(m, pbdf + 86, text("M"));                          // SEXE
    put(m, pbdf + 87, {0x19, 0x85, 0x07, 0x30});           // BRDT
    put(m, pbdf + 91, {0x00, 0x00, 0x00, 0x00});           // FILLER
    put(m, pbdf + 95, {0xCA, 0xFE, 0xBA, 0xBE});           // FCTF
    m[pbdf + 99] = xor_of(m, pbdf, 99);
    return m;
}

// Chains that break one rule of the library's verification each, made from
// the keys and names of the good chain: a leaf not yet valid, an
// intermediate that is no CA, a root that allows no intermediate.
void make_chain_faults(X509* root, EVP_PKEY* root_key, EVP_PKEY* ca_key, EVP_PKEY* auth_key, X509* ca) {
    const CertPtr not_yet = make_cert({"Jan Peeters (Authentication)", 8, 30, 3650, false, "critical,digitalSignature"},
                                      auth_key, ca, ca_key);
    save_cert("auth_notyet", not_yet.get());
    const CertPtr not_ca = make_cert({"Test Citizen CA", 9, -1, 3650, false, "critical,keyCertSign,cRLSign"}, ca_key,
                                     root, root_key);
    save_cert("ca_not_ca", not_ca.get());
    const CertPtr short_root = make_cert(
        {"Test Root CA", 10, -1, 3650, true, "critical,keyCertSign,cRLSign", "critical,CA:TRUE,pathlen:0"}, root_key,
        nullptr, root_key);
    save_cert("root_pathlen0", short_root.get());
}

// A CA of the card maker's own, self-signed, that issued the card's
// authentication and signing certificates: no chain of it reaches the root.
void make_own_ca(unsigned bits, EVP_PKEY* auth_key, EVP_PKEY* sign_key) {
    const KeyPtr own_key = make_key(bits);
    const CertPtr own_ca = make_cert({"Test Citizen CA", 12, -1, 3650, true, "critical,keyCertSign,cRLSign"},
                                     own_key.get(), nullptr, own_key.get());
    const CertPtr own_auth = make_cert({"Jan Peeters (Authentication)", 13, -1, 3650, false,
                                        "critical,digitalSignature"},
                                       auth_key, own_ca.get(), own_key.get());
    const CertPtr own_sign = make_cert({"Jan Peeters (Signature)", 14, -1, 3650, false, "critical,nonRepudiation"},
                                       sign_key, own_ca.get(), own_key.get());
    save_cert("own_ca", own_ca.get());
    save_cert("own_auth", own_auth.get());
    save_cert("own_sign", own_sign.get());
}

void make_all(unsigned bits) {
    const KeyPtr root_key = make_key(bits), ca_key = make_key(bits), auth_key = make_key(bits),
                 sign_key = make_key(bits), rrn_key = make_key(bits);
    const CertPtr root = make_cert({"Test Root CA", 1, -1, 3650, true, "critical,keyCertSign,cRLSign"},
                                   root_key.get(), nullptr, root_key.get());
    const CertPtr ca = make_cert({"Test Citizen CA", 2, -1, 3650, true, "critical,keyCertSign,cRLSign"},
                                 ca_key.get(), root.get(), root_key.get());
    const CertPtr auth = make_cert({"Jan Peeters (Authentication)", 3, -1, 3650, false, "critical,digitalSignature"},
                                   auth_key.get(), ca.get(), ca_key.get());
    const CertPtr sign = make_cert({"Jan Peeters (Signature)", 4, -1, 3650, false, "critical,nonRepudiation"},
                                   sign_key.get(), ca.get(), ca_key.get());
    const CertPtr rrn = make_cert({"Test National Register", 5, -1, 3650, false, "critical,digitalSignature"},
                                  rrn_key.get(), root.get(), root_key.get());
    const CertPtr expired = make_cert({"Jan Peeters (Authentication)", 6, -400, -30, false, "critical,digitalSignature"},
                                      auth_key.get(), ca.get(), ca_key.get());
    const CertPtr selfsigned = make_cert({"Jan Peeters (Authentication)", 7, -1, 3650, false, "critical,digitalSignature"},
                                         auth_key.get(), nullptr, auth_key.get());
    const CertPtr rrn_selfsigned = make_cert({"Test National Register", 11, -1, 3650, false, "critical,digitalSignature"},
                                             rrn_key.get(), nullptr, rrn_key.get());
    for (auto [base, cert, key] : {std::tuple{"root", root.get(), root_key.get()}, {"ca", ca.get(), ca_key.get()},
                                   {"auth", auth.get(), auth_key.get()}, {"sign", sign.get(), sign_key.get()},
                                   {"rrn", rrn.get(), rrn_key.get()}}) {
        save_cert(base, cert);
        save_key(base, key);
    }
    save_cert("auth_expired", expired.get());
    save_cert("selfsigned", selfsigned.get());
    save_cert("rrn_selfsigned", rrn_selfsigned.get());
    make_chain_faults(root.get(), root_key.get(), ca_key.get(), auth_key.get(), ca.get());
    const KeyPtr foreign_key = make_key(bits);
    const CertPtr foreign_root = make_cert({"Test Root CA", 1, -1, 3650, true, "critical,keyCertSign,cRLSign"},
                                           foreign_key.get(), nullptr, foreign_key.get());
    save_cert("foreign_root", foreign_root.get());
    make_own_ca(bits, auth_key.get(), sign_key.get());

    const Bytes photo = make_photo();
    const Bytes identity = make_identity(sha1(photo));
    const Bytes identity_sig = sign_sha1(rrn_key.get(), identity);
    Bytes address = make_address();
    Bytes address_signed = address;
    address_signed.insert(address_signed.end(), identity_sig.begin(), identity_sig.end());
    address.resize(117, 0);
    write_file("photo.jpg", photo);
    write_file("identity.bin", identity);
    write_file("identity.sig", identity_sig);
    write_file("address.bin", address);
    write_file("address.sig", sign_sha1(rrn_key.get(), address_signed));

    Bytes challenge(20), hash(20);
    for (unsigned char i = 0; i < 20; ++i) {
        challenge[i] = static_cast<unsigned char>(0x10 + i);
        hash[i] = static_cast<unsigned char>(0xF0 - i);
    }
    write_file("challenge.bin", challenge);
    write_file("challenge.sig", sign_raw(auth_key.get(), challenge));
    write_file("hash.bin", hash);
    write_file("hash.sig", sign_raw(sign_key.get(), hash));

    Bytes data = text("zero tail 0000");
    for (unsigned counter = 0;; ++counter) {
        data[data.size() - 4] = static_cast<unsigned char>(counter >> 24);
        data[data.size() - 3] = static_cast<unsigned char>(counter >> 16);
        data[data.size() - 2] = static_cast<unsigned char>(counter >> 8);
        data[data.size() - 1] = static_cast<unsigned char>(counter);
        const Bytes sig = sign_sha1(rrn_key.get(), data);
        if (sig.back() == 0) {
            write_file("zerotail.bin", data);
            write_file("zerotail.sig", sig);
            break;
        }
    }

    make_zero_tail_set(rrn_key.get());
    make_tag_zero_set(rrn_key.get(), 1, "tag0_00_");
    make_tag_zero_set(rrn_key.get(), 2, "tag0_0000_");

    const Bytes sis = make_sis_memory();
    write_file("sis_valid.bin", sis);
    Bytes bad_pbdf = sis;
    bad_pbdf[104 + 99] ^= 0x01;
    write_file("sis_bad_pbdf.bin", bad_pbdf);
    Bytes bad_isdf = sis;
    bad_isdf[60 + 43] ^= 0x01;
    write_file("sis_bad_isdf.bin", bad_isdf);
    write_file("sis_zero.bin", Bytes(1024, 0));
}

constexpr const char kUsage[] =
    "usage: testpki OUTDIR [--bits 1024|2048]\n"
    "Makes a fresh test PKI and the eID and SIS card files that go with it in\n"
    "OUTDIR (which must exist). --bits: RSA key size of every key (default 2048).\n";

// 0 and the arguments, or the exit status of a usage error or of --help.
int parse_arguments(int argc, char** argv, const char*& dir, unsigned& bits) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        if (arg == "--bits") {
            const std::string value = i + 1 < argc ? argv[++i] : "";
            if (value != "1024" && value != "2048") {
                std::fprintf(stderr, "testpki: --bits must be 1024 or 2048\n");
                return 2;
            }
            bits = static_cast<unsigned>(std::stoul(value));
        } else if (arg.starts_with("-")) {
            std::fprintf(stderr, "testpki: unknown option %s (see testpki --help)\n", arg.c_str());
            return 2;
        } else if (dir) {
            std::fprintf(stderr, "testpki: one OUTDIR only (see testpki --help)\n");
            return 2;
        } else {
            dir = argv[i];
        }
    }
    if (!dir) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir = nullptr;
    unsigned bits = 2048;
    if (const int status = parse_arguments(argc, argv, dir, bits); status != 0) return status < 0 ? 0 : status;
    g_dir = dir;
    try {
        make_all(bits);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "testpki: %s\n", e.what());
        return 1;
    }
    return 0;
}
