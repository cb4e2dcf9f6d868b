// libselvane.so is assembled from the selvane_core archive; its exports are
// listed in include/selvane.h and selvane.map. Loading it loads and binds
// libtarvik.so; a failed binding leaves every slot empty, so the exports
// answer their failure codes instead of the load failing.
#include "orvel.h"
#include "platform/export_guard.h"
#include "selvane/tarvik_binding.h"

namespace {

// Out of memory while binding is traced; the host still loads.
__attribute__((constructor)) void selvane_attach() try {
    if (const int result = selvane::load_tarvik(); result != selvane::kTarvikLoaded)
        __tracef(ORVEL_ERR, "selvane_attach", __FILE__, __LINE__, "tarvik not bound (%d)", result);
} catch (...) {
    kit::export_failure(__func__, 0);
}

__attribute__((destructor)) void selvane_detach() { selvane::unload_tarvik(); }

}  // namespace
