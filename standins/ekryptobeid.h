// The pinpad reader's library: the two calls that selvane makes, named
// here (the maker's library offers them by ordinal: 3 message, 1 beep).
// Results are the library's own and are handed back unchanged.
#ifndef KIT_STANDINS_EKRYPTOBEID_H
#define KIT_STANDINS_EKRYPTOBEID_H

#include <PCSC/winscard.h>

#include <cstdint>

// Ordinal 3: shows text on the reader's display.
extern "C" int32_t ekryptobeid_display_message(SCARDHANDLE card, int32_t a, int32_t b, const char* text);
// Ordinal 1: beeps.
extern "C" int32_t ekryptobeid_beep(SCARDHANDLE card, int32_t a);

#endif
