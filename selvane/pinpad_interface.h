// What selvane needs of the pinpad reader's library "ekryptobeid.dll"
// (libekryptobeid.so, loaded by its plain name on the first pinpad call):
// the two calls, named here (the maker's library offers them by ordinal:
// 3 message, 1 beep). A library put in its place exports these names.
// Results are the library's own and are handed back unchanged.
//
// selvane never links these declarations: it binds the names at run time,
// so a host without the library still loads selvane.
#ifndef SELVANE_PINPAD_INTERFACE_H
#define SELVANE_PINPAD_INTERFACE_H

#include <PCSC/winscard.h>

#include <cstdint>

// Ordinal 3: shows text on the reader's display.
extern "C" int32_t ekryptobeid_display_message(SCARDHANDLE card, int32_t a, int32_t b, const char* text);
// Ordinal 1: beeps.
extern "C" int32_t ekryptobeid_beep(SCARDHANDLE card, int32_t a);

#endif
