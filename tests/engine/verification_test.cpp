#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"
#include "tarvik/engine/crypto/parsed_certificates.h"

#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <openssl/pem.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <string>

namespace {

// One test PKI per key size, made once for the whole program.
const TempDir& pki(int bits) {
    static std::map<int, std::unique_ptr<TempDir>> made;
    auto& dir = made[bits];
    if (!dir) {
        dir = std::make_unique<TempDir>();
        const std::string command =
            std::string(TESTPKI_PATH) + " " + dir->path().string() + " --bits " + std::to_string(bits);
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    return *dir;
}

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// An S_EID_CERT that frees itself.
struct Cert {
    S_EID_CERT c{};
    Cert(const Bytes& der, uint32_t no) {
        init_S_EID_CERT(&c);
        init_S_EID_CERT(&c, der.data(), static_cast<int32_t>(der.size()), no, nullptr, 0);
    }
    ~Cert() { free_S_EID_CERT(&c); }
    Cert(const Cert&) = delete;
    Cert& operator=(const Cert&) = delete;
    S_EID_CERT* operator&() { return &c; }
    std::string pem_name() const { return c.dsc == nullptr ? "" : std::string(c.dsc, c.dsc_len); }
};

class Verification : public ::testing::TestWithParam<int> {
protected:
    Bytes file(const std::string& name) const { return read_bytes(pki(GetParam()).path() / name); }
    std::string path(const std::string& name) const { return pki(GetParam()).file(name); }
    // The national-register certificate with damaged DER bytes, named by
    // the PEM file rrn.pem in the test's directory.
    std::unique_ptr<Cert> damaged_rrn_named_by_its_pem() {
        Bytes der = file("rrn.der");
        der[0] ^= 0xFF;
        auto damaged = std::make_unique<Cert>(der, 8);
        damaged->c.dsc = strdup(out.file("rrn.pem").c_str());
        damaged->c.dsc_len = static_cast<uint32_t>(std::strlen(damaged->c.dsc));
        return damaged;
    }
    TempDir out;
};

TEST_P(Verification, IdentityFileSignature) {
    Data id(file("identity.bin")), sig(file("identity.sig"));
    Cert cert8(file("rrn.der"), 8);
    int status = 0;
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &cert8, &status), 0);
    EXPECT_EQ(status, 1);

    Bytes changed = file("identity.bin");
    changed[5] ^= 0x20;
    Data bad(changed);
    EXPECT_EQ(eidVerifySgnRn(&bad, nullptr, &sig, &cert8, &status), 0);
    EXPECT_EQ(status, -1);

    // The wrong key is a mismatch, not a failure.
    Cert auth(file("auth.der"), 2);
    status = 0;
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &auth, &status), 0);
    EXPECT_EQ(status, -1);

    Data empty;
    status = 0;
    EXPECT_EQ(eidVerifySgnRn(&empty, nullptr, &sig, &cert8, &status), -1);
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &cert8, nullptr), -1);
    EXPECT_EQ(status, 0);
}

TEST_P(Verification, AddressSignatureWithAndWithoutPadding) {
    Bytes padded = file("address.bin");
    ASSERT_EQ(padded.size(), 117u);
    Bytes trimmed = padded;
    while (!trimmed.empty() && trimmed.back() == 0) trimmed.pop_back();
    Data sgn_rn(file("identity.sig")), sgn_address(file("address.sig"));
    Cert cert8(file("rrn.der"), 8);
    for (const Bytes& address : {padded, trimmed}) {
        Data a(address);
        int status = 0;
        EXPECT_EQ(eidVerifySgnAddress(&a, &sgn_rn, &sgn_address, &cert8, &status), 0);
        EXPECT_EQ(status, 1);
    }
    Data all_zero(Bytes(20, 0));
    int status = 0;
    EXPECT_EQ(eidVerifySgnAddress(&all_zero, &sgn_rn, &sgn_address, &cert8, &status), -1);
    EXPECT_EQ(status, 0);
}

TEST_P(Verification, PhotoAgainstTheHashInTheIdentityFile) {
    Data photo(file("photo.jpg")), id(file("identity.bin")), sig(file("identity.sig"));
    Cert cert8(file("rrn.der"), 8);
    int status = 0;
    EXPECT_EQ(eidVerifySgnPhoto(&photo, &id, &sig, &cert8, &status), 0);
    EXPECT_EQ(status, 1);

    Bytes other = file("photo.jpg");
    other[100] ^= 1;
    Data changed(other);
    status = 0;
    EXPECT_EQ(eidVerifySgnPhoto(&changed, &id, &sig, &cert8, &status), -1);
    EXPECT_EQ(status, 0);
    Data short_id(Bytes(19, 1));
    EXPECT_EQ(eidVerifySgnPhoto(&photo, &short_id, &sig, &cert8, &status), -1);
    EXPECT_EQ(status, 0);
}

TEST_P(Verification, CardSignaturesOfChallengeAndHash) {
    Data chal(file("challenge.bin")), chal_sig(file("challenge.sig"));
    Data hash(file("hash.bin")), hash_sig(file("hash.sig"));
    Cert cert2(file("auth.der"), 2), cert3(file("sign.der"), 3);
    int status = 0;
    EXPECT_EQ(eidVerifySgnAuthentication(&chal, &chal_sig, &cert2, &status), 0);
    EXPECT_EQ(status, 1);
    status = 0;
    EXPECT_EQ(eidVerifySgnSigning(&hash, &hash_sig, &cert3, &status), 0);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(eidVerifySgnSigning(&hash, &chal_sig, &cert3, &status), 0);
    EXPECT_EQ(status, -1);

    // A value that is only a prefix of the signed one is not verified.
    const Bytes challenge = file("challenge.bin");
    Data prefix(Bytes(challenge.begin(), challenge.begin() + 19));
    EXPECT_EQ(eidVerifySgnAuthentication(&prefix, &chal_sig, &cert2, &status), 0);
    EXPECT_EQ(status, -1);

    // A failed RSA step (a signature above the modulus) never passes, even
    // for an all-zero value that an all-zero block would match.
    const std::size_t key_bytes = static_cast<std::size_t>(GetParam() / 8);
    Data zeros(Bytes(20, 0)), too_big(Bytes(key_bytes, 0xFF)), too_long(Bytes(key_bytes + 1, 0x01));
    status = 1;
    EXPECT_EQ(eidVerifySgnHsh(&zeros, &too_big, &cert2, &status), 0);
    EXPECT_EQ(status, -1);
    status = 1;
    EXPECT_EQ(eidVerifySgnHsh(&zeros, &too_long, &cert2, &status), 0);
    EXPECT_EQ(status, -1);
}

// The raw private-key operation on a whole block (the command's decrypt
// without padding), so the public operation gives back exactly that block.
Bytes raw_signed(const std::string& key, const Bytes& block, const TempDir& dir) {
    {
        std::ofstream o(dir.file("block.bin"), std::ios::binary);
        o.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    EXPECT_EQ(run("openssl pkeyutl -decrypt -inkey " + key + " -pkeyopt rsa_padding_mode:none -in " +
                  dir.file("block.bin") + " -out " + dir.file("block.sig")),
              0);
    return read_bytes(dir.file("block.sig"));
}

TEST_P(Verification, RawSignatureNeedsTheWholeType1Block) {
    const Bytes value = file("hash.bin");
    ASSERT_EQ(value.size(), 20u);
    const std::size_t key_bytes = static_cast<std::size_t>(GetParam() / 8);
    // 00 <type> zeros <padding_len bytes of pad> 00 <value>, at the key's size.
    auto block = [&](unsigned char type, std::size_t padding_len, unsigned char pad) {
        Bytes b{0x00, type};
        b.resize(key_bytes - value.size() - 1 - padding_len, 0x00);
        b.resize(b.size() + padding_len, pad);
        b.push_back(0x00);
        b.insert(b.end(), value.begin(), value.end());
        return b;
    };
    Cert cert2(file("auth.der"), 2);
    Data v(value);
    const std::string key = path("auth.key.pem");
    auto verdict = [&](const Bytes& sig_bytes) {
        Data sig(sig_bytes);
        int status = 0;
        EXPECT_EQ(eidVerifySgnHsh(&v, &sig, &cert2, &status), 0);
        return status;
    };
    // The card's own block verifies.
    const std::size_t full = key_bytes - value.size() - 3;
    EXPECT_EQ(verdict(raw_signed(key, block(0x01, full, 0xFF), out)), 1);
    // Encryption padding (type 2, random-looking non-zero bytes) ending in the value.
    EXPECT_EQ(verdict(raw_signed(key, block(0x02, full, 0x5A), out)), -1);
    // Fewer than eight FF: zeros stand between the type and the padding.
    EXPECT_EQ(verdict(raw_signed(key, block(0x01, 7, 0xFF), out)), -1);
    // No padding at all: the value alone, zero-filled in front.
    Bytes bare(key_bytes - value.size(), 0x00);
    bare.insert(bare.end(), value.begin(), value.end());
    EXPECT_EQ(verdict(raw_signed(key, bare, out)), -1);

    // A zero signature gives the zero block: it verifies no zero value, nor
    // does a one-byte signature that is zero-extended to it.
    Data zeros(Bytes(20, 0));
    for (const Bytes& sig_bytes : {Bytes(key_bytes, 0x00), Bytes(1, 0x00)}) {
        Data sig(sig_bytes);
        int status = 0;
        EXPECT_EQ(eidVerifySgnHsh(&zeros, &sig, &cert2, &status), 0);
        EXPECT_EQ(status, -1);
    }
}

TEST_P(Verification, TrimmedSignatureIsZeroExtended) {
    Bytes sig = file("zerotail.sig");
    ASSERT_EQ(sig.back(), 0);
    while (!sig.empty() && sig.back() == 0) sig.pop_back();
    Data data(file("zerotail.bin")), trimmed(sig);
    Cert cert8(file("rrn.der"), 8);
    int status = 0;
    EXPECT_EQ(eidVerifySgn(&data, &trimmed, &cert8, &status), 0);
    EXPECT_EQ(status, 1);
}

// The PEM file stands in for damaged DER bytes only while it holds what the
// transaction saved: not outside one, not once another writer changed it.
TEST_P(Verification, DamagedDerFallsBackToThePemFileThisTransactionSaved) {
    Cert saved(file("rrn.der"), 8);
    const auto damaged_cert = damaged_rrn_named_by_its_pem();  // same file name, damaged bytes
    Cert& damaged = *damaged_cert;
    Data id(file("identity.bin")), sig(file("identity.sig"));
    int status = 0;

    ASSERT_EQ(eidSaveX509(&saved, out.file("rrn.pem").c_str()), 0);
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &damaged, &status), -1) << "saved by no transaction";
    EXPECT_EQ(status, 0);

    const tarvik::crypto::ParsedCertificateScope transaction;
    ASSERT_EQ(eidSaveX509(&saved, out.file("rrn.pem").c_str()), 0);
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &damaged, &status), 0);
    EXPECT_EQ(status, 1);

    // Another writer's certificate over the same key, which would verify.
    std::filesystem::copy_file(path("rrn_selfsigned.pem"), out.file("rrn.pem"),
                               std::filesystem::copy_options::overwrite_existing);
    status = 0;
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &damaged, &status), -1);
    EXPECT_EQ(status, 0);

    std::filesystem::remove(out.file("rrn.pem"));
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &damaged, &status), -1);
    EXPECT_EQ(status, 0);
}

// The next transaction reuses the last one's certificates, never its word
// that a file holds what it saved.
TEST_P(Verification, APemFileTheLastTransactionSavedIsNotThisOnes) {
    const Bytes der = file("rrn.der");
    Cert saved(der, 8), again(der, 8);
    const auto damaged_cert = damaged_rrn_named_by_its_pem();
    Cert& damaged = *damaged_cert;
    Data id(file("identity.bin")), sig(file("identity.sig"));
    int status = 0;
    {
        const tarvik::crypto::ParsedCertificateScope last;
        ASSERT_EQ(eidSaveX509(&saved, out.file("rrn.pem").c_str()), 0);
        EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &damaged, &status), 0);
        EXPECT_EQ(status, 1);
    }
    const tarvik::crypto::ParsedCertificateScope transaction;
    status = 0;
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &again, &status), 0) << "the last transaction's certificate";
    EXPECT_EQ(status, 1);
    status = 0;
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &damaged, &status), -1) << "saved by the last transaction only";
    EXPECT_EQ(status, 0);
}

class Chain : public Verification {
protected:
    // Saves the certificate as PEM in the test's directory.
    std::unique_ptr<Cert> saved(const std::string& base, uint32_t no) {
        auto cert = std::make_unique<Cert>(file(base + ".der"), no);
        EXPECT_EQ(eidSaveX509(&*cert, out.file(base + ".pem").c_str()), 0);
        return cert;
    }
};

TEST_P(Chain, AuthenticationAndSigningCertificatesUpToTheRoot) {
    auto ca = saved("ca", 4), root = saved("root", 6);
    for (const char* leaf_name : {"auth", "sign", "auth_expired"}) {
        auto leaf = saved(leaf_name, 2);
        int ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&*leaf, &*ca, &*root, &ccv), 0) << leaf_name;
        EXPECT_EQ(ccv, 1) << leaf_name;
    }
}

TEST_P(Chain, SelfSignedOrUnanchoredCertificatesAreRefused) {
    auto ca = saved("ca", 4), root = saved("root", 6), self = saved("selfsigned", 2);
    int ccv = 0;
    EXPECT_EQ(eidVerifyCertificateChain(&*self, &*ca, &*root, &ccv), 0);
    EXPECT_EQ(ccv, -1);

    // The national-register certificate hangs under the root, not the CA:
    // with the CA in place of the root it has no anchor.
    auto rrn = saved("rrn", 8), auth = saved("auth", 2);
    ccv = 0;
    EXPECT_EQ(eidVerifyCertificateChain(&*auth, &*ca, &*ca, &ccv), 0);
    EXPECT_EQ(ccv, -1);

    std::filesystem::remove(out.file("root.pem"));
    ccv = 0;
    EXPECT_EQ(eidVerifyCertificateChain(&*auth, &*ca, &*root, &ccv), 0);
    EXPECT_EQ(ccv, -1);

    Cert unsaved(file("auth.der"), 2);
    ccv = 0;
    EXPECT_EQ(eidVerifyCertificateChain(&unsaved, &*ca, &*root, &ccv), -1);
    EXPECT_EQ(ccv, 0);
    EXPECT_EQ(eidVerifyCertificateChain(&*auth, &*ca, &*root, nullptr), -1);

    // A self-signed certificate as its own root, or standing in for the
    // intermediate as well: in the library's store it would pass unchecked.
    auto rrn_self = saved("rrn_selfsigned", 8), rrn_self_root = saved("rrn_selfsigned", 6);
    ASSERT_EQ(eidSaveX509(&*root, out.file("root.pem").c_str()), 0);
    for (const auto& [intermediate, anchor] : {std::pair{&*ca, &*rrn_self_root}, {&*rrn_self_root, &*rrn_self_root}}) {
        ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&*rrn_self, intermediate, anchor, &ccv), 0);
        EXPECT_EQ(ccv, -1);
    }
    // The intermediate itself as the certificate to verify.
    ccv = 0;
    EXPECT_EQ(eidVerifyCertificateChain(&*ca, &*ca, &*root, &ccv), 0);
    EXPECT_EQ(ccv, -1);

    // Under the genuine root, a self-signed CA of the card's own as the
    // intermediate: its certificates never reach the root.
    auto own_ca = saved("own_ca", 4);
    for (const char* leaf_name : {"own_auth", "own_sign"}) {
        auto leaf = saved(leaf_name, 2);
        ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&*leaf, &*own_ca, &*root, &ccv), 0) << leaf_name;
        EXPECT_EQ(ccv, -1) << leaf_name;
    }
}

// The error the library alone finds in a chain (no callback), the root
// trusted and the intermediate not: what the chain check has to tolerate or
// not.
int library_error(const std::string& leaf, const std::string& intermediate, const std::string& root) {
    using namespace tarvik::crypto;
    auto load = [](const std::string& name) {
        FilePtr file(std::fopen(name.c_str(), "r"));
        return X509Ptr(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
    };
    StorePtr store(X509_STORE_new());
    X509Ptr leaf_cert = load(leaf), intermediate_cert = load(intermediate), root_cert = load(root);
    X509ListPtr untrusted(sk_X509_new_null());
    if (!store || !untrusted || !leaf_cert || !intermediate_cert || !root_cert) return -1;
    sk_X509_push(untrusted.get(), intermediate_cert.get());
    X509_STORE_add_cert(store.get(), root_cert.get());
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), leaf_cert.get(), untrusted.get()) != 1) return -1;
    X509_verify_cert(ctx.get());
    return X509_STORE_CTX_get_error(ctx.get());
}

TEST_P(Chain, ToleratedErrorsPassAndANotYetValidCertificateIsRefused) {
    const struct {
        const char* leaf;
        const char* intermediate;
        const char* root;
        int error;  // what the library finds
        int ccv;    // what the chain check reports
    } cases[] = {
        {"auth_expired", "ca", "root", X509_V_ERR_CERT_HAS_EXPIRED, 1},
        {"auth", "ca_not_ca", "root", X509_V_ERR_INVALID_CA, 1},
        {"auth", "ca", "root_pathlen0", X509_V_ERR_PATH_LENGTH_EXCEEDED, 1},
        {"auth_notyet", "ca", "root", X509_V_ERR_CERT_NOT_YET_VALID, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.leaf) + " under " + c.intermediate + " and " + c.root);
        EXPECT_EQ(library_error(path(std::string(c.leaf) + ".pem"), path(std::string(c.intermediate) + ".pem"),
                                path(std::string(c.root) + ".pem")),
                  c.error);
        auto leaf = saved(c.leaf, 2), intermediate = saved(c.intermediate, 4), root = saved(c.root, 6);
        int ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&*leaf, &*intermediate, &*root, &ccv), 0);
        EXPECT_EQ(ccv, c.ccv);
    }
}

TEST_P(Chain, CertificateOfAnotherPkiIsRefused) {
    auto ca = saved("ca", 4), root = saved("root", 6);
    const int other_bits = GetParam() == 1024 ? 2048 : 1024;
    Cert stranger(read_bytes(pki(other_bits).path() / "auth.der"), 2);
    ASSERT_EQ(eidSaveX509(&stranger, out.file("stranger.pem").c_str()), 0);
    int ccv = 0;
    EXPECT_EQ(eidVerifyCertificateChain(&stranger, &*ca, &*root, &ccv), 0);
    EXPECT_EQ(ccv, -1);
}

TEST_P(Verification, PemSaveNeverFollowsALinkNorWaitsOnAFifoAtItsName) {
    Cert cert(file("auth.der"), 2);
    const std::string target = out.file("target.txt");
    const std::string link = out.file("DEFAULT_cert2.pem");
    std::ofstream(target) << "keep";
    std::filesystem::create_symlink(target, link);
    EXPECT_EQ(eidSaveX509(&cert, link.c_str()), -1);
    EXPECT_EQ(cert.pem_name(), "");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_bytes(target), (Bytes{'k', 'e', 'e', 'p'}));

    // Nor waits on a FIFO (the alarm ends a test that hangs).
    const std::string fifo = out.file("DEFAULT_cert8.pem");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::alarm(10);
    EXPECT_EQ(eidSaveX509(&cert, fifo.c_str()), -1);
    ::alarm(0);
    EXPECT_EQ(cert.pem_name(), "");
}

// The chain is the card's certificates, within a transaction or outside:
// a saved file that was removed leaves its anchor out, and one that another
// writer changed fails the check, even when what it now holds would pass.
TEST_P(Chain, ASavedFileChangedSinceIsNeverJudgedInPlaceOfTheCard) {
    for (const bool in_transaction : {true, false}) {
        SCOPED_TRACE(in_transaction ? "within a transaction" : "outside");
        std::optional<tarvik::crypto::ParsedCertificateScope> transaction;
        if (in_transaction) transaction.emplace();
        auto ca = saved("ca", 4), root = saved("root", 6), auth = saved("auth", 2);
        int ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&*auth, &*ca, &*root, &ccv), 0);
        EXPECT_EQ(ccv, 1);

        std::filesystem::remove(root->pem_name());
        ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&*auth, &*ca, &*root, &ccv), 0);
        EXPECT_EQ(ccv, -1) << "a removed anchor is gone";
        ASSERT_EQ(eidSaveX509(&*root, root->pem_name().c_str()), 0);

        // A card of another PKI: its leaf's file replaced by a good leaf.
        const int other_bits = GetParam() == 1024 ? 2048 : 1024;
        Cert stranger(read_bytes(pki(other_bits).path() / "auth.der"), 2);
        ASSERT_EQ(eidSaveX509(&stranger, out.file("stranger.pem").c_str()), 0);
        std::filesystem::copy_file(path("auth.pem"), out.file("stranger.pem"),
                                   std::filesystem::copy_options::overwrite_existing);
        ccv = 0;
        EXPECT_EQ(eidVerifyCertificateChain(&stranger, &*ca, &*root, &ccv), -1) << "a changed leaf";
        EXPECT_EQ(ccv, 0);

        // The other PKI's chain under this card's root: the root's file
        // replaced by the other PKI's root.
        Cert stranger_ca(read_bytes(pki(other_bits).path() / "ca.der"), 4);
        ASSERT_EQ(eidSaveX509(&stranger, out.file("stranger.pem").c_str()), 0);
        ASSERT_EQ(eidSaveX509(&stranger_ca, out.file("stranger_ca.pem").c_str()), 0);
        std::filesystem::copy_file(pki(other_bits).file("root.pem"), root->pem_name(),
                                   std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(eidVerifyCertificateChain(&stranger, &stranger_ca, &*root, &ccv), -1) << "a changed anchor";
        EXPECT_EQ(ccv, 0);
    }
}

TEST_P(Verification, PemFilesAreTheSameWithinATransactionAndOutside) {
    Cert outside(file("auth.der"), 2);
    ASSERT_EQ(eidSaveX509(&outside, out.file("outside.pem").c_str()), 0);
    const tarvik::crypto::ParsedCertificateScope transaction;
    Cert inside(file("auth.der"), 2), again(file("auth.der"), 2);
    ASSERT_EQ(eidSaveX509(&inside, out.file("inside.pem").c_str()), 0);
    ASSERT_EQ(eidSaveX509(&again, out.file("again.pem").c_str()), 0);
    EXPECT_EQ(read_bytes(out.file("inside.pem")), read_bytes(out.file("outside.pem")));
    EXPECT_EQ(read_bytes(out.file("again.pem")), read_bytes(out.file("outside.pem")));
    int status = 0;
    Data id(file("identity.bin")), sig(file("identity.sig"));
    Cert rrn(file("rrn.der"), 8);
    EXPECT_EQ(eidVerifySgnRn(&id, nullptr, &sig, &rrn, &status), 0);
    EXPECT_EQ(status, 1);
}

TEST_P(Verification, PemSaveRecordsTheNameOnlyWhenWritten) {
    Cert cert(file("auth.der"), 2);
    EXPECT_EQ(eidSaveX509(&cert, ""), 0);
    EXPECT_EQ(cert.pem_name(), "");
    EXPECT_EQ(eidSaveX509(&cert, out.file("missing/dir/auth.pem").c_str()), -1);
    EXPECT_EQ(cert.pem_name(), "");
    {
        // A file that cannot grow past 100 bytes: the write fails at the close.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 100;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const int rc = eidSaveX509(&cert, out.file("full.pem").c_str());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(cert.pem_name(), "");
        EXPECT_FALSE(std::filesystem::exists(out.file("full.pem")));
    }
    EXPECT_EQ(eidSaveX509(nullptr, out.file("x.pem").c_str()), -1);
    Bytes garbage{0x30, 0x03, 0x01, 0x02, 0x03};
    Cert bad(garbage, 2);
    EXPECT_EQ(eidSaveX509(&bad, out.file("bad.pem").c_str()), -1);
    EXPECT_FALSE(std::filesystem::exists(out.file("bad.pem")));

    const std::string saved = out.file("auth.pem");
    ASSERT_EQ(eidSaveX509(&cert, saved.c_str()), 0);
    EXPECT_EQ(cert.pem_name(), saved);
    EXPECT_EQ(cert.c.dsc[cert.c.dsc_len], '\0');
    // The library's reading of the file gives back the card's DER bytes.
    ASSERT_EQ(run("openssl x509 -in " + saved + " -outform DER -out " + out.file("back.der")), 0);
    EXPECT_EQ(read_bytes(out.file("back.der")), file("auth.der"));
}

TEST_P(Verification, CrossChecksWithTheOpensslCommand) {
    // Signatures the command makes verify here.
    write_text(out.file("data.txt"), "signed by the openssl command");
    ASSERT_EQ(run("openssl dgst -sha1 -sign " + path("rrn.key.pem") + " -out " + out.file("data.sig") + " " +
                  out.file("data.txt")),
              0);
    Data data(read_bytes(out.file("data.txt"))), sig(read_bytes(out.file("data.sig")));
    Cert cert8(file("rrn.der"), 8);
    int status = 0;
    EXPECT_EQ(eidVerifySgn(&data, &sig, &cert8, &status), 0);
    EXPECT_EQ(status, 1);

    ASSERT_EQ(run("openssl pkeyutl -sign -inkey " + path("auth.key.pem") +
                  " -pkeyopt rsa_padding_mode:pkcs1 -in " + path("hash.bin") + " -out " + out.file("raw.sig")),
              0);
    Data value(file("hash.bin")), raw(read_bytes(out.file("raw.sig")));
    Cert cert2(file("auth.der"), 2);
    status = 0;
    EXPECT_EQ(eidVerifySgnHsh(&value, &raw, &cert2, &status), 0);
    EXPECT_EQ(status, 1);

    // What verifies here verifies there, and what fails here fails there.
    ASSERT_EQ(run("openssl x509 -in " + path("rrn.pem") + " -pubkey -noout -out " + out.file("rrn.pub")), 0);
    const std::string verify = "openssl dgst -sha1 -verify " + out.file("rrn.pub") + " -signature " +
                               path("identity.sig") + " ";
    EXPECT_EQ(run(verify + path("identity.bin")), 0);
    Bytes changed = file("identity.bin");
    changed.back() ^= 1;
    {
        std::ofstream o(out.file("changed.bin"), std::ios::binary);
        o.write(reinterpret_cast<const char*>(changed.data()), static_cast<std::streamsize>(changed.size()));
    }
    EXPECT_NE(run(verify + out.file("changed.bin")), 0);
    Data changed_id(changed), id_sig(file("identity.sig"));
    EXPECT_EQ(eidVerifySgn(&changed_id, &id_sig, &cert8, &status), 0);
    EXPECT_EQ(status, -1);

    const std::string chain = "openssl verify -CAfile " + path("root.pem") + " -untrusted " + path("ca.pem") + " ";
    EXPECT_EQ(run(chain + path("auth.pem")), 0);
    EXPECT_NE(run(chain + path("selfsigned.pem")), 0);
}

// The callback of the chain check on its own, for each error it may see.
TEST(VerifyCallback, ToleratesTheFiveErrorsOnlyAndASelfSignedCertificateNeverAtDepthZero) {
    using namespace tarvik::crypto;
    Cert auth(read_bytes(pki(1024).path() / "auth.der"), 2);
    X509* parsed = nullptr;
    ASSERT_EQ(eidReadX509Certificate(&parsed, &auth), 0);
    X509Ptr cert(parsed);
    StorePtr store(X509_STORE_new());
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    ASSERT_EQ(X509_STORE_CTX_init(ctx.get(), store.get(), cert.get(), nullptr), 1);
    X509_STORE_CTX_set_current_cert(ctx.get(), cert.get());
    const struct {
        int error;
        int depth;
        int ok;
    } cases[] = {
        {X509_V_ERR_CERT_HAS_EXPIRED, 0, 1},
        {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, 1, 1},
        {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, 0, 0},
        {X509_V_ERR_INVALID_CA, 1, 1},
        {X509_V_ERR_PATH_LENGTH_EXCEEDED, 2, 1},
        {X509_V_ERR_INVALID_PURPOSE, 0, 1},
        {X509_V_ERR_CERT_NOT_YET_VALID, 0, 0},
        {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 0, 0},
        {X509_V_ERR_CERT_SIGNATURE_FAILURE, 0, 0},
        {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, 1, 0},
    };
    for (const auto& c : cases) {
        X509_STORE_CTX_set_error(ctx.get(), c.error);
        X509_STORE_CTX_set_error_depth(ctx.get(), c.depth);
        EXPECT_EQ(verify_cb(0, ctx.get()), c.ok) << X509_verify_cert_error_string(c.error) << " at " << c.depth;
        EXPECT_EQ(verify_cb(1, ctx.get()), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(KeySizes, Verification, ::testing::Values(1024, 2048));
INSTANTIATE_TEST_SUITE_P(KeySizes, Chain, ::testing::Values(1024, 2048));

}  // namespace
