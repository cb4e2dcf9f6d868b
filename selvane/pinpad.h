// Message and beep on a pinpad reader (name beginning "ets beid pinpad",
// any case) through the reader's library. The card handle and the reader
// name come from the reader object tarvik resolves for the handle; when
// tarvik holds no card connection a direct one is made for the call alone.
//
// Results: the library's result; kNoDevice (-2) no usable handle;
// kNotPinpad (-1); kNoLibrary (-3) when the reader's library cannot be
// loaded or lacks one of its two calls; a PC/SC code (narrowed, negative)
// when the direct connection fails.
#ifndef SELVANE_PINPAD_H
#define SELVANE_PINPAD_H

#include <cstdint>

namespace selvane::pinpad {

inline constexpr int kNotPinpad = -1;
inline constexpr int kNoLibrary = -3;

int display_message(int32_t handle, const char* text, int32_t a, int32_t b);
int beep(int32_t handle, int32_t a);

}  // namespace selvane::pinpad

#endif
