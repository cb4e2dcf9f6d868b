#include "selvane/current_device.h"

#include "selvane/tarvik_binding.h"

namespace selvane {

namespace {
int32_t g_current_device = 0;
}

int32_t current_device() { return g_current_device; }

void set_current_device(int32_t handle) { g_current_device = handle; }

int32_t device_or_current(int32_t handle) { return handle == 0 ? g_current_device : handle; }

bool is_tarvik_device(int32_t handle) {
    if (handle <= 0) return false;
    if (!tarvik_exports().with_card) return true;
    return call::with_card(handle, false, [](void*, const Pcsc_Common*) {}, nullptr) == 0;
}

}  // namespace selvane
