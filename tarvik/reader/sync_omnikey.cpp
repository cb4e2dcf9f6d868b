#include "tarvik/reader/sync_omnikey.h"

#include "orvel.h"

namespace {

constexpr const char* kTraceName = "SyncOmnikey::load_omnikey_dll";

ScardsynEntryPoints g_entry_points;

void trace(const char* message, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, kTraceName, file, line, "%s", message);
}

// Fetches one entry point; on a miss traces its message and reports false.
template <typename Fn>
bool bind(const kit::platform::DynamicLibrary& library, const char* name, const char* miss_message, Fn& out,
          const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    out = library.function<Fn>(name, file, line);
    if (out) return true;
    trace(miss_message, file, line);
    return false;
}

}  // namespace

const ScardsynEntryPoints& scardsyn_entry_points() { return g_entry_points; }

SyncOmnikey::~SyncOmnikey() {
    if (module_.loaded()) g_entry_points = {};
}

int SyncOmnikey::load_omnikey_dll() {
    kit::platform::DynamicLibrary library("scardsyn.dll", kTraceName);
    if (!library.loaded()) {
        trace("LoadLibrary(scardsyn.dll) failed...");
        return -2;
    }
    ScardsynEntryPoints bound;
    const bool complete =
        bind(library, "SCard3WBPPresentPIN", "LoadLibrary(scardsyn.dll) SLE4428PresentPIN failed...",
             bound.SCard3WBPPresentPIN) &&
        bind(library, "SCard3WBPReadData", "LoadLibrary(scardsyn.dll) SLE4428ReadData failed...",
             bound.SCard3WBPReadData) &&
        bind(library, "SCard3WBPWriteData", "LoadLibrary(scardsyn.dll) SLE4428WriteData failed...",
             bound.SCard3WBPWriteData) &&
        bind(library, "SCard3WBPChangePIN", "LoadLibrary(scardsyn.dll) SLE4428ChangePIN failed...",
             bound.SCard3WBPChangePIN) &&
        bind(library, "SCard3WBPCompareAndProtect", "LoadLibrary(scardsyn.dll) SLE4428CompareAndProtect failed...",
             bound.SCard3WBPCompareAndProtect) &&
        bind(library, "SCard3WBPVerifyProtectBit", "LoadLibrary(scardsyn.dll) SLE4428VerifyProtectBit failed...",
             bound.SCard3WBPVerifyProtectBit);
    if (!complete) return -1;  // library released by its destructor
    module_ = std::move(library);
    g_entry_points = bound;
    trace("LoadLibrary(scardsyn.dll) OK !!!");
    return 0;
}
