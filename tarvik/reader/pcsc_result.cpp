#include "tarvik/reader/pcsc_result.h"

namespace tarvik::reader {

int card_state_value(DWORD pcsc_state) {
    const DWORD bits = pcsc_state & 0xFFFFu;
    if (bits & SCARD_SPECIFIC) return 6;
    if (bits & SCARD_NEGOTIABLE) return 5;
    if (bits & SCARD_POWERED) return 4;
    if (bits & SCARD_SWALLOWED) return 3;
    if (bits & SCARD_PRESENT) return 2;
    if (bits & SCARD_ABSENT) return 1;
    return 0;
}

}  // namespace tarvik::reader
