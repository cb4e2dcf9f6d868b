// PC/SC results narrowed to int32_t, so the SCARD_* codes read as negative
// numbers the way the layer's callers compare them.
#ifndef TARVIK_READER_PCSC_RESULT_H
#define TARVIK_READER_PCSC_RESULT_H

#include <PCSC/winscard.h>

#include <cstdint>

namespace tarvik::reader {

constexpr int32_t narrow(LONG result) { return static_cast<int32_t>(static_cast<uint32_t>(result)); }

inline constexpr int32_t kSuccess = 0;

// pcsc-lite answers SCARD_E_NO_SMARTCARD where removal is meant.
constexpr bool card_removed(int32_t result) {
    return result == narrow(SCARD_W_REMOVED_CARD) || result == narrow(SCARD_E_NO_SMARTCARD);
}

// The state bits of SCardStatus (0x34, 0x10034, ...) as the values 0-6:
// 0 unknown, 1 absent, 2 present, 3 swallowed, 4 powered, 5 negotiable,
// 6 specific. The highest state bit wins; the event counter above bit 15
// is ignored.
int card_state_value(DWORD pcsc_state);

}  // namespace tarvik::reader

#endif
