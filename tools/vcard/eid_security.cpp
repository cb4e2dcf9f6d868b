#include "tools/vcard/eid_security.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <map>

namespace vcard {

namespace {

constexpr uint16_t kSwSecurityNotSatisfied = 0x6982;
constexpr uint16_t kSwPinBlocked = 0x6983;
constexpr uint16_t kSwConditionsNotSatisfied = 0x6985;
constexpr uint16_t kSwWrongData = 0x6A80;
constexpr uint16_t kSwReferenceNotFound = 0x6A88;

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct KeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using KeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, KeyCtxFree>;

// The digits of a format-2 block, or nullopt when it is not one.
std::optional<std::string> pin_of_block(const Bytes& block) {
    if (block.size() != 8 || (block[0] >> 4) != 0x2) return std::nullopt;
    const std::size_t length = block[0] & 0x0F;
    if (length < 4 || length > 12) return std::nullopt;
    std::string digits;
    for (std::size_t i = 0; i < 14; ++i) {
        const uint8_t byte = block[1 + i / 2];
        const uint8_t nibble = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
        if (i < length && nibble > 9) return std::nullopt;
        if (i >= length && nibble != 0x0F) return std::nullopt;
        if (i < length) digits.push_back(static_cast<char>('0' + nibble));
    }
    return digits;
}

std::optional<Bytes> sign_type1(EVP_PKEY* key, const Bytes& data) {
    KeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return std::nullopt;
    std::size_t length = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1) return std::nullopt;
    Bytes signature(length);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1) return std::nullopt;
    signature.resize(length);
    return signature;
}

}  // namespace

struct EidSecurity::Keys {
    std::map<uint8_t, KeyPtr> by_reference;
};

EidSecurity::EidSecurity() : keys_(std::make_unique<Keys>()) {}
EidSecurity::~EidSecurity() = default;

bool EidSecurity::load_key(uint8_t reference, const std::string& pem_path) {
    if (reference != 0x82 && reference != 0x83) return false;
    std::FILE* file = std::fopen(pem_path.c_str(), "rb");
    if (!file) return false;
    KeyPtr key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return false;
    keys_->by_reference[reference] = std::move(key);
    return true;
}

// 00 22 41 B6 05 | 04 80 01 84 <key>
Response EidSecurity::manage_security_environment(const Command& command) {
    const Bytes expected_prefix{0x04, 0x80, 0x01, 0x84};
    if (command.p1 != 0x41 || command.p2 != 0xB6) return Response::status(kSwWrongP1P2);
    if (command.data.size() != 5 || !std::equal(expected_prefix.begin(), expected_prefix.end(), command.data.begin()))
        return Response::status(kSwWrongData);
    const uint8_t reference = command.data[4];
    if (!keys_->by_reference.contains(reference)) return Response::status(kSwReferenceNotFound);
    chosen_key_ = reference;
    verified_ = false;
    waiting_.clear();
    return Response::status(kSwOk);
}

// 00 20 00 01 08 | PIN block
Response EidSecurity::verify(const Command& command) {
    if (command.p1 != 0x00 || command.p2 != 0x01) return Response::status(kSwWrongP1P2);
    if (tries_left_ == 0) return Response::status(kSwPinBlocked);
    const auto digits = pin_of_block(command.data);
    if (!digits) return Response::status(kSwWrongData);
    if (*digits != pin_) {
        --tries_left_;
        verified_ = false;
        return Response::status(static_cast<uint16_t>(0x63C0 | tries_left_));
    }
    tries_left_ = kPinTries;
    verified_ = true;
    return Response::status(kSwOk);
}

// 00 2A 9E 9A Lc | bytes to sign
Response EidSecurity::sign(const Command& command) {
    if (command.p1 != 0x9E || command.p2 != 0x9A) return Response::status(kSwWrongP1P2);
    if (chosen_key_ == 0 || !verified_) return Response::status(kSwSecurityNotSatisfied);
    EVP_PKEY* key = keys_->by_reference.at(chosen_key_).get();
    const auto signature = sign_type1(key, command.data);
    if (!signature) return Response::status(kSwWrongLength);
    waiting_ = *signature;
    return Response::status(static_cast<uint16_t>(0x6100 | (waiting_.size() & 0xFF)));
}

// 00 C0 00 00 Le
Response EidSecurity::get_response(const Command& command) {
    if (waiting_.empty()) return Response::status(kSwConditionsNotSatisfied);
    const std::size_t wanted = command.le.value_or(256);
    if (wanted > waiting_.size()) return Response::status(static_cast<uint16_t>(0x6C00 | (waiting_.size() & 0xFF)));
    Response response{Bytes(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(wanted)), kSwOk};
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(wanted));
    if (!waiting_.empty()) response.sw = static_cast<uint16_t>(0x6100 | (waiting_.size() & 0xFF));
    return response;
}

std::shared_ptr<EidSecurity> install_eid_security(Card& card) {
    auto security = std::make_shared<EidSecurity>();
    card.on(0x00, 0x22, [security](Card&, const Command& c) { return security->manage_security_environment(c); });
    card.on(0x00, 0x20, [security](Card&, const Command& c) { return security->verify(c); });
    card.on(0x00, 0x2A, [security](Card&, const Command& c) { return security->sign(c); });
    card.on(0x00, 0xC0, [security](Card&, const Command& c) { return security->get_response(c); });
    return security;
}

bool parse_key_option(EidSecurity& security, std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return false;
    const auto reference = from_hex(text.substr(0, eq));
    if (!reference || reference->size() != 1) return false;
    return security.load_key((*reference)[0], std::string(text.substr(eq + 1)));
}

}  // namespace vcard
