#include "tarvik/reader/outside_libraries.h"

#include <utility>

#include "orvel.h"
#include "platform/dynamic_library.h"

using kit::platform::DynamicLibrary;

namespace {

// A library and the entry points taken from it, published as one.
template <typename EntryPoints>
struct Binding {
    DynamicLibrary library;
    EntryPoints entry;
};

Binding<PteidEntryPoints> g_pteid;
Binding<SpeEntryPoints> g_spe;
Binding<KelpraEntryPoints> g_kelpra;

void trace(const char* function, const char* message,
           const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, function, file, line, "%s", message);
}

template <typename EntryPoints>
void publish(Binding<EntryPoints>& target, DynamicLibrary library, const EntryPoints& entry) {
    target.entry = {};
    target.library = std::move(library);
    target.entry = entry;
}

}  // namespace

const PteidEntryPoints& pteid_entry_points() { return g_pteid.entry; }
const SpeEntryPoints& spe_entry_points() { return g_spe.entry; }
const KelpraEntryPoints& kelpra_entry_points() { return g_kelpra.entry; }

int load_mw_portugal_dll() {
    constexpr const char* kName = "load_mw_portugal_dll";
    DynamicLibrary library("pteidlib.dll", kName);
    if (!library.loaded()) {
        trace(kName, "LoadLibrary(pteidlib.dll) failed...");
        return -2;
    }
    PteidEntryPoints bound;
    bound.PTEID_GetID = library.function<PTEID_GetID_t>("PTEID_GetID");
    if (!bound.PTEID_GetID) return trace(kName, "LoadLibrary(pteidlib.dll) PTEID_GetID failed..."), -1;
    bound.PTEID_GetPic = library.function<PTEID_GetPic_t>("PTEID_GetPic");
    if (!bound.PTEID_GetPic) return trace(kName, "LoadLibrary(pteidlib.dll) T_PTEID_GetPic failed..."), -1;
    bound.PTEID_Init = library.function<PTEID_Init_t>("PTEID_Init");
    if (!bound.PTEID_Init) return trace(kName, "LoadLibrary(pteidlib.dll) T_PTEID_Init failed..."), -1;
    bound.PTEID_Exit = library.function<PTEID_Exit_t>("PTEID_Exit");
    if (!bound.PTEID_Exit) return trace(kName, "LoadLibrary(pteidlib.dll) pt_exit failed..."), -1;
    publish(g_pteid, std::move(library), bound);
    return 0;
}

int load_spe_reader_dll(const char* name) {
    constexpr const char* kName = "load_spe_reader_dll";
    trace(kName, "ENTERING:");
    if (!name) return -1;
    DynamicLibrary library(name, kName);
    if (!library.loaded()) return -1;
    __tracef(ORVEL_DEBUG, kName, __FILE__, __LINE__, "Library loaded: %s", name);
    SpeEntryPoints bound;
    bound.SCR_Init = library.function<SCR_Init_t>("SCR_Init");
    if (!bound.SCR_Init) return -2;
    trace(kName, "Got address of function: SCR_Init");
    bound.SCR_VerifyPIN = library.function<SCR_VerifyPIN_t>("SCR_VerifyPIN");
    if (!bound.SCR_VerifyPIN) return -3;
    trace(kName, "Got address of function: SCR_VerifyPIN");
    bound.SCR_ChangePIN = library.function<SCR_ChangePIN_t>("SCR_ChangePIN");
    if (!bound.SCR_ChangePIN) return -4;
    trace(kName, "Got address of function: SCR_ChangePIN");
    publish(g_spe, std::move(library), bound);
    trace(kName, "EXITING: ");
    return 0;
}

int load_kelpra0001_dll() {
    constexpr const char* kName = "load_kelpra0001_dll";
    DynamicLibrary library("kelpra001.dll", kName);
    if (!library.loaded()) {
        trace(kName, "ERROR in load_kelpra0001_dll() while calling LoadLibrary()");
        return -1;
    }
    KelpraEntryPoints bound;
    bound.getxmlsupportedspescreaders = library.function<getxmlsupportedspescreaders_t>("getxmlsupportedspescreaders");
    if (!bound.getxmlsupportedspescreaders) {
        trace(kName,
              "ERROR in load_kelpra0001_dll(), T_getxmlsupportedspescreaders getxmlsupportedspescreaders is NULL");
        return -2;
    }
    publish(g_kelpra, std::move(library), bound);
    return 0;
}
