// libtarvik.so is assembled from the archives of tarvik/reader, tarvik/engine
// and tarvik/faces; loading it builds nothing (all state is made on first use)
// but says what a forked child forgets before its first call, and that no
// call reaches PC/SC once the process exits.
#include "platform/library_lock.h"
#include "tarvik/faces/face_state.h"
#include "tarvik/reader/hcl.h"
#include "tarvik/reader/pcsc_availability.h"

namespace {

// The child's own reads start from nothing of its parent's: no connection,
// no begin in flight, no card data.
void forget_inherited() noexcept {
    HCL_forget_inherited();
    clear_card_cache();
}

__attribute__((constructor)) void tarvik_attach() {
    kit::forget_inherited_state_with(forget_inherited);
    tarvik::reader::stop_using_pcsc_at_exit();
}

}  // namespace
