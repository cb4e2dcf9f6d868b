#include "selvane/ctm_library.h"

namespace selvane::ctm {

namespace {

constexpr const char* kTraceName = "PCSC_SIS_Read_Private";

template <typename Fn>
bool fetch(const kit::platform::DynamicLibrary& library, const char* name, Fn& slot,
           const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    slot = library.function<Fn>(name, file, line);
    return slot != nullptr;
}

bool fetch_all(const kit::platform::DynamicLibrary& library, Functions& f) {
    return fetch(library, "CtmOpen", f.open) && fetch(library, "CtmClose", f.close) &&
           fetch(library, "CtmResOpen", f.res_open) && fetch(library, "CtmResClose", f.res_close) &&
           fetch(library, "CtmSetExclusivity", f.set_exclusivity) && fetch(library, "CtmCtReset", f.ct_reset) &&
           fetch(library, "CtmCardCommand", f.card_command) && fetch(library, "CtmCardOpen", f.card_open) &&
           fetch(library, "CtmIsSisCard", f.is_sis_card) && fetch(library, "BncsInitialise", f.bncs_initialise) &&
           fetch(library, "BncsTerminate", f.bncs_terminate) && fetch(library, "BncsReadData", f.bncs_read_data) &&
           fetch(library, "BncsWriteData", f.bncs_write_data) && fetch(library, "BncsGetData", f.bncs_get_data);
}

}  // namespace

const Functions* Library::functions() {
    if (bound_) return &functions_;
    // No development-tree location is searched: a library planted in a
    // parent folder of the working directory must never be loaded.
    kit::platform::DynamicLibrary library(file_name_, kTraceName);
    Functions found;
    if (!library.loaded() || !fetch_all(library, found)) return nullptr;
    library_ = std::move(library);
    functions_ = found;
    bound_ = true;
    return &functions_;
}

Library& terminal_library() {
    static Library library("ctmwin.dll");
    return library;
}

}  // namespace selvane::ctm
