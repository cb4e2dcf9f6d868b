// The current device: the result of the last open (a handle or a failure
// code), which a handle argument of 0 stands for. A handle reaches tarvik
// only when tarvik resolves it to its reader object (or, when tarvik offers
// no resolver, when it is positive): 0, -1 and -2 never do.
#ifndef SELVANE_CURRENT_DEVICE_H
#define SELVANE_CURRENT_DEVICE_H

#include <cstdint>

namespace selvane {

// Every operation that needs a handle it cannot use answers this.
inline constexpr int kNoDevice = -2;

int32_t current_device();
void set_current_device(int32_t handle);
// handle, or the current device when handle is 0.
int32_t device_or_current(int32_t handle);
// Whether handle may be handed to tarvik.
bool is_tarvik_device(int32_t handle);

}  // namespace selvane

#endif
