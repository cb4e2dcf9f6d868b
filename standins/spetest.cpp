// Secure-PIN-entry reader library stand-in. SCR_VerifyPIN sends VERIFY on
// the card handle it is given with the PIN in KIT_SPE_PIN, as if typed on
// the pad (unset: the cardholder cancels). KIT_SPE_INIT_RESULT sets what
// SCR_Init answers.
//
// For tests: KIT_SPE_RECORD names a file to which each call appends one line
// with what it received. KIT_SPE_RESULT_SIZE=N makes SCR_VerifyPIN check that
// the first N bytes of the result buffer arrive zero (recorded) and then
// write all N of them, as a library with a longer answer would, so a smaller
// buffer shows under the address sanitizer.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standins/call_record.h"
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

[[maybe_unused]] void record(const std::string& line) { append_call_record("KIT_SPE_RECORD", line); }

// Not std::to_string: its digit table is a unique symbol, which keeps the
// library from ever being unloaded, and so loaded the leak checker reported
// the open reader's PC/SC context at the test's exit.
[[maybe_unused]] std::string number(long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

// "text(length)", with "!" when the zero after the bytes is missing.
[[maybe_unused]] std::string bytes_text(const S_SPE_BYTES& bytes) {
    std::string text = bytes.data ? std::string(reinterpret_cast<const char*>(bytes.data), bytes.length) : "null";
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "(" + std::string.
    text.append("(").append(number(bytes.length)).append(")");
    if (!bytes.data) return text;
    if (bytes.data[bytes.length] != 0) text += "!";
    return text;
}

[[maybe_unused]] std::string text_or_null(const char* text) { return text ? text : "null"; }

}  // namespace

#ifndef STANDIN_WITHOUT_SCR_Init
STANDIN_EXPORT long SCR_Init(const char* reader, int value, int* out) {
    record("init reader=" + text_or_null(reader) + " value=" + number(value) + " out=" + (out ? number(*out) : "null"));
    if (out) *out = 1;
    const char* forced = std::getenv("KIT_SPE_INIT_RESULT");
    return forced ? std::strtol(forced, nullptr, 0) : 0;
}
#endif

#ifndef STANDIN_WITHOUT_SCR_VerifyPIN
STANDIN_EXPORT long SCR_VerifyPIN(const S_SPE_CARD* card, unsigned char value, const S_SPE_PIN_USAGE* usage,
                                  const S_SPE_APPLICATION* application, unsigned char* result) {
    const char* size_text = std::getenv("KIT_SPE_RESULT_SIZE");
    const std::size_t result_size = size_text ? std::strtoul(size_text, nullptr, 10) : 0;
    std::string line = "verify";
    if (card)
        line += " card=" + number(card->card_handle) + "," + text_or_null(card->language) + "," +
                bytes_text(card->id) + "," + number(card->reserved);
    line += " value=" + number(value);
    if (usage)
        line += " usage=" + number(usage->code) + "," + text_or_null(usage->short_name) + "," +
                text_or_null(usage->long_name);
    if (application)
        line += " application=" + bytes_text(application->id) + "," + text_or_null(application->short_name) + "," +
                text_or_null(application->long_name);
    if (result && result_size > 0) {
        std::size_t zeros = 0;
        while (zeros < result_size && result[zeros] == 0) ++zeros;
        line += " result=" + number(zeros) + "/" + number(result_size) + " zero";
        std::memset(result, 0xA5, result_size);
    }
    record(line);
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
