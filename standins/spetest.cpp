// Secure-PIN-entry reader library stand-in. SCR_VerifyPIN sends VERIFY on
// the card handle it is given with the PIN in KIT_SPE_PIN, as if typed on
// the pad (unset: the cardholder cancels). KIT_SPE_INIT_RESULT sets what
// SCR_Init answers.
#include <array>
#include <cstdlib>
#include <cstring>

#include "standins/standin_export.h"
#include "tarvik/reader/outside_interfaces.h"

namespace {

constexpr long kCancelled = 0x80100002L;
constexpr long kNotSupported = 0x80100022L;

// ISO 9564 format 2: control nibble 2 and the PIN length, BCD digits, F fill.
[[maybe_unused]] bool pin_block(const char* pin, std::array<unsigned char, 8>& block) {
    const std::size_t length = std::strlen(pin);
    if (length < 4 || length > 12) return false;
    block.fill(0xFF);
    block[0] = static_cast<unsigned char>(0x20 | length);
    for (std::size_t i = 0; i < length; ++i) {
        if (pin[i] < '0' || pin[i] > '9') return false;
        const auto digit = static_cast<unsigned char>(pin[i] - '0');
        unsigned char& byte = block[1 + i / 2];
        byte = (i % 2 == 0) ? static_cast<unsigned char>((digit << 4) | 0x0F) : static_cast<unsigned char>((byte & 0xF0) | digit);
    }
    return true;
}

}  // namespace

#ifndef STANDIN_WITHOUT_SCR_Init
STANDIN_EXPORT long SCR_Init(const char*, int, int* out) {
    if (out) *out = 1;
    const char* forced = std::getenv("KIT_SPE_INIT_RESULT");
    return forced ? std::strtol(forced, nullptr, 0) : 0;
}
#endif

#ifndef STANDIN_WITHOUT_SCR_VerifyPIN
STANDIN_EXPORT long SCR_VerifyPIN(const S_SPE_CARD* card, unsigned char, const S_SPE_PIN_USAGE*,
                                  const S_SPE_APPLICATION*, unsigned char* result) {
    if (!card || !result) return kNotSupported;
    const char* pin = std::getenv("KIT_SPE_PIN");
    if (!pin) return kCancelled;
    std::array<unsigned char, 8> block{};
    if (!pin_block(pin, block)) return kNotSupported;
    std::array<unsigned char, 13> command{0x00, 0x20, 0x00, 0x01, 0x08};
    std::memcpy(command.data() + 5, block.data(), block.size());
    std::array<unsigned char, 258> reply{};
    DWORD reply_len = reply.size();
    long rv = SCardTransmit(card->card_handle, SCARD_PCI_T0, command.data(), command.size(), nullptr, reply.data(),
                            &reply_len);
    if (rv != SCARD_S_SUCCESS) {
        reply_len = reply.size();
        rv = SCardTransmit(card->card_handle, SCARD_PCI_T1, command.data(), command.size(), nullptr, reply.data(),
                           &reply_len);
    }
    if (rv != SCARD_S_SUCCESS) return rv;
    if (reply_len < 2) return kNotSupported;
    result[0] = reply[reply_len - 2];
    result[1] = reply[reply_len - 1];
    return 0;
}
#endif

#ifndef STANDIN_WITHOUT_SCR_ChangePIN
STANDIN_EXPORT long SCR_ChangePIN(const S_SPE_CARD*, unsigned char, const S_SPE_PIN_USAGE*, const S_SPE_APPLICATION*,
                                  unsigned char*) {
    return kNotSupported;
}
#endif
