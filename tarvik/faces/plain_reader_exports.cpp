// Plain exports that forward to the reader layer and the SIS read.
#include <cstdint>
#include <cstring>

#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/engine/sis_card.h"
#include "tarvik/faces/face_state.h"
#include "tarvik.h"
#include "tarvik/reader/hcl.h"
#include "tarvik/reader/pcsc_common.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

char selected_reader_name[FACE_READER_NAME_SIZE];

extern "C" {

TARVIK_EXPORT int cardPresent(int handle) try {
    const kit::LibraryCall call;
    return eidCardPresent(handle);
} catch (...) {
    return kit::export_failure(__func__, 0);
}

TARVIK_EXPORT int getIccList(char* text) try {
    const kit::LibraryCall call;
    return eidGetIccList(text);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int openDevice(const char* reader_name) try {
    const kit::LibraryCall call;
    if (reader_name != nullptr) {
        const std::size_t length = strnlen(reader_name, FACE_READER_NAME_SIZE);
        if (length == FACE_READER_NAME_SIZE) return -1;
        std::memset(selected_reader_name, 0, sizeof selected_reader_name);
        std::memcpy(selected_reader_name, reader_name, length);
    }
    return eidOpenReader(reader_name);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int getCardStatus(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len) try {
    const kit::LibraryCall call;
    return HCL_get_card_status(handle, powered, absent, atr, atr_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int cardCommand_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                                    unsigned int* response_len, unsigned short* sw) try {
    const kit::LibraryCall call;
    static_assert(sizeof(unsigned short) == sizeof(uint16_t));
    return HCL_card_command_T0_T1(handle, apdu, apdu_len, response, response_len, reinterpret_cast<uint16_t*>(sw));
} catch (...) {
    return kit::export_failure(__func__, -1);
}

// Both the other processes (the PC/SC transaction) and the other threads
// of this one (the library's lock, which they share the card handle under)
// are kept off the card for the task's whole run.
TARVIK_EXPORT int tarvik_with_card(int handle, int hold, tarvik_card_task task, void* context) try {
    const kit::LibraryCall call;
    Pcsc_Common* const reader = tarvik_resolve_device(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!task) return -1;
    // The task may call PC/SC itself (the pinpad's direct connection).
    if (!HCL_pcsc_usable()) return static_cast<int32_t>(static_cast<uint32_t>(SCARD_E_NO_SERVICE));
    if (!hold) {
        task(context, reader);
        return 0;
    }
    int started = Pcsc_Common::kNotBegun;
    const int status = HCL_get_card_status_then_start_transaction(handle, EID_TRANSACTION_TIMEOUT_MS, &started,
                                                                  nullptr, nullptr, nullptr, nullptr);
    const HclStartedTransaction held(handle, started);  // let go on every path, a throwing task's too
    if (status != 0) return status;
    if (started != 0) return started;
    task(context, reader);
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int readSisCard(int handle, int type, char* isdf, char* pbdf) try {
    const kit::LibraryCall call;
    if (!is_open_device(handle)) return HCL_E_UNKNOWN_HANDLE;
    const bool records = type == SIS_OUTPUT_RECORDS;
    return sisReadCard(handle, type, isdf, records ? SIS_ISDF_RECORD_SIZE : PLAIN_SIS_TEXT_SIZE, pbdf,
                       records ? SIS_PBDF_RECORD_SIZE : PLAIN_SIS_TEXT_SIZE);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
