// Command and response APDUs as the card sees them (short APDUs only).
#ifndef KIT_VCARD_APDU_H
#define KIT_VCARD_APDU_H

#include <cstdint>
#include <optional>
#include <span>

#include "tools/vcard/hex.h"

namespace vcard {

struct Command {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;
    // Le as sent (0 means 256); nullopt when the command carries none.
    std::optional<unsigned> le;
};

struct Response {
    Bytes data;
    uint16_t sw = 0x9000;

    static Response status(uint16_t sw) { return Response{{}, sw}; }
    Bytes encode() const;
};

// Cases 1 to 4 of a short APDU; nullopt for anything shorter than 4 bytes
// or with an Lc that does not match the length.
std::optional<Command> parse_command(std::span<const uint8_t> apdu);

inline constexpr uint16_t kSwOk = 0x9000;
inline constexpr uint16_t kSwWrongLength = 0x6700;
inline constexpr uint16_t kSwFileNotFound = 0x6A82;
inline constexpr uint16_t kSwWrongP1P2 = 0x6B00;
inline constexpr uint16_t kSwInsNotSupported = 0x6D00;
inline constexpr uint16_t kSwClaNotSupported = 0x6E00;
inline constexpr uint16_t kSwNoCurrentEf = 0x6986;

}  // namespace vcard

#endif
