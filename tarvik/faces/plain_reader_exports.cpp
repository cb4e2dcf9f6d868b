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

// The PC/SC transaction keeps other processes off the card, not the other
// threads of this one, which share its card handle: the library's lock stays
// with the caller from a granted begin to the end.
TARVIK_EXPORT int tarvik_begin_transaction(int handle) try {
    const kit::LibraryCall call;
    const int result = HCL_card_Start_transaction(handle, EID_TRANSACTION_TIMEOUT_MS);
    if (result == 0) kit::keep_library_locked();
    return result;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int tarvik_end_transaction(int handle) try {
    const kit::LibraryCall call;
    kit::release_kept_lock();
    return HCL_card_End_transaction(handle);
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
