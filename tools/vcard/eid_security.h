// The eID card's security commands: MSE SET choosing the authentication key
// (82) or the signature key (83), VERIFY of the PIN (ISO 9564 format 2
// block, three tries, then blocked), PSO COMPUTE DIGITAL SIGNATURE (PKCS #1
// v1.5 type-1 padding over the bytes given, no DigestInfo) answered 61xx,
// and GET RESPONSE.
//
// Status words: 6982 signing without a chosen key or a verified PIN; 63Cx
// wrong PIN with x tries left; 6983 PIN blocked; 6A80 malformed PIN block;
// 6A88 unknown key reference or no key loaded for it; 6985 GET RESPONSE
// with nothing waiting; 6Cxx GET RESPONSE asking more than waits.
#ifndef KIT_VCARD_EID_SECURITY_H
#define KIT_VCARD_EID_SECURITY_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tools/vcard/card.h"

namespace vcard {

inline constexpr int kPinTries = 3;

class EidSecurity;

// Installs the four commands on card. The returned object configures them.
std::shared_ptr<EidSecurity> install_eid_security(Card& card);

class EidSecurity {
public:
    EidSecurity();
    ~EidSecurity();
    EidSecurity(const EidSecurity&) = delete;
    EidSecurity& operator=(const EidSecurity&) = delete;

    // A PEM private key (PKCS #8 or traditional RSA) for reference 82 or 83.
    bool load_key(uint8_t reference, const std::string& pem_path);
    void set_pin(std::string digits) { pin_ = std::move(digits); }

    Response manage_security_environment(const Command& command);
    Response verify(const Command& command);
    Response sign(const Command& command);
    Response get_response(const Command& command);

private:
    struct Keys;
    std::unique_ptr<Keys> keys_;
    std::string pin_ = "1234";
    int tries_left_ = kPinTries;
    uint8_t chosen_key_ = 0;
    bool verified_ = false;
    Bytes waiting_;
};

// "82=PATH" or "83=PATH".
bool parse_key_option(EidSecurity& security, std::string_view text);

}  // namespace vcard

#endif
