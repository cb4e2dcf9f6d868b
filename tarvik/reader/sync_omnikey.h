// Binding of the synchronous memory-card library "scardsyn.dll"
// (libscardsyn.so here), used for SLE4418 reads.
#ifndef TARVIK_READER_SYNC_OMNIKEY_H
#define TARVIK_READER_SYNC_OMNIKEY_H

#include "platform/dynamic_library.h"
#include "tarvik/reader/outside_interfaces.h"

// The six entry points, process-wide; all null until a binding is complete,
// all null again once the library that held them is released.
struct ScardsynEntryPoints {
    SCard3WBPPresentPIN_t SCard3WBPPresentPIN = nullptr;
    SCard3WBPReadData_t SCard3WBPReadData = nullptr;
    SCard3WBPWriteData_t SCard3WBPWriteData = nullptr;
    SCard3WBPChangePIN_t SCard3WBPChangePIN = nullptr;
    SCard3WBPCompareAndProtect_t SCard3WBPCompareAndProtect = nullptr;
    SCard3WBPVerifyProtectBit_t SCard3WBPVerifyProtectBit = nullptr;
};
const ScardsynEntryPoints& scardsyn_entry_points();

class SyncOmnikey {
public:
    SyncOmnikey() = default;
    SyncOmnikey(const SyncOmnikey&) = delete;
    SyncOmnikey& operator=(const SyncOmnikey&) = delete;
    // Releases the library and clears the entry points it published.
    ~SyncOmnikey();

    // 0 bound; -2 library not loaded; -1 an entry point missing (the
    // library is released and nothing is published).
    int load_omnikey_dll();

private:
    kit::platform::DynamicLibrary module_;
};

#endif
