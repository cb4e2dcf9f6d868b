// Loaders of the identity-card middleware ("pteidlib.dll"), of a
// secure-PIN-entry reader library and of the supported-reader list provider
// ("kelpra001.dll"). A loader binds into temporaries and publishes the
// library and its entry points together, only when every entry point was
// found; a failed load leaves what an earlier load published in place.
// Published entry points stay valid until the next complete load of the
// same kind replaces them (the replaced library is then released).
#ifndef TARVIK_READER_OUTSIDE_LIBRARIES_H
#define TARVIK_READER_OUTSIDE_LIBRARIES_H

#include "tarvik/reader/outside_interfaces.h"

struct PteidEntryPoints {
    PTEID_GetID_t PTEID_GetID = nullptr;
    PTEID_GetPic_t PTEID_GetPic = nullptr;
    PTEID_Init_t PTEID_Init = nullptr;
    PTEID_Exit_t PTEID_Exit = nullptr;
};
struct SpeEntryPoints {
    SCR_Init_t SCR_Init = nullptr;
    SCR_VerifyPIN_t SCR_VerifyPIN = nullptr;
    SCR_ChangePIN_t SCR_ChangePIN = nullptr;
};
struct KelpraEntryPoints {
    getxmlsupportedspescreaders_t getxmlsupportedspescreaders = nullptr;
};

// All null until a complete binding.
const PteidEntryPoints& pteid_entry_points();
const SpeEntryPoints& spe_entry_points();
const KelpraEntryPoints& kelpra_entry_points();

// 0 bound; -2 library not loaded; -1 an entry point missing.
int load_mw_portugal_dll();
// name: a file name (searched) or a path. 0 bound; -1 not loaded (also a
// null name); -2 SCR_Init, -3 SCR_VerifyPIN, -4 SCR_ChangePIN missing.
int load_spe_reader_dll(const char* name);
// 0 bound; -1 not loaded; -2 getxmlsupportedspescreaders missing.
int load_kelpra0001_dll();

#endif
