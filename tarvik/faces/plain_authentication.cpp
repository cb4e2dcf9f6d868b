// The plain face's online authentication, with the card cache across calls.
#include <cstring>

#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_key_transactions.h"
#include "tarvik/engine/renderings.h"
#include "tarvik/faces/face_state.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik.h"
#include "tarvik/reader/hcl.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

namespace {

constexpr const char* kName = "eidAuthenticationOnline";

int authenticate(int handle, const int32_t (&masks)[EID_REQUEST_MASKS], const char* pin, char* transaction_id) {
    if (!is_open_device(handle)) return HCL_E_UNKNOWN_HANDLE;
    if (transaction_id == nullptr) return -1;
    TransactionRecords records(AUTHENT_ONLINE, masks);
    if (set_session_id(records.in) != 0) return -1;
    if (const int rc = eidGetCardIdentifier(handle, &records.out.id_card); rc != 0) {
        FACE_TRACE(kName,
                   "ERROR in DuzEdorire_eidAuthentication(...) while calling eidGetCardIdentifier(...). Error code: %d "
                   "(0x%08X)",
                   rc, static_cast<unsigned>(rc));
        return rc;
    }
    use_card_cache(records.in, records.out);
    if (set_pincode(records.in, pin) != 0) {
        FACE_TRACE(kName, "ERROR in eidAuthentication(...), unsigned char * finput.pincode.dta is NULL");
        return -1;
    }
    if (const int rc = eidAuthentication(handle, &records.in, &records.out); rc != 0) {
        FACE_TRACE(kName, "ERROR in eidAuthentication() while calling eidAuthentication(). Error code: %d (0x%08X)", rc,
                   static_cast<unsigned>(rc));
        return rc;
    }
    const S_EID_DATA& id = records.out.id_transaction;
    if (!has_data(id)) {
        FACE_TRACE(kName, "ERROR in DuzEdorire_eidAuthentication(...), S_EID_DATA foutput.id_transaction is empty");
        return 1;
    }
    char xml[RENDER_TRANSACTION_XML_MAX] = {};
    if (const int rc = generateTransactionXml(&id, xml, sizeof xml); rc != 0) {
        FACE_TRACE(kName, "ERROR in DuzEdorire_eidAuthentication(...) while calling generateTransactionXml(...)");
        return rc;
    }
    // At most 32 characters, without a terminator: the caller's buffer is zeroed.
    const std::size_t length = strnlen(reinterpret_cast<const char*>(id.dta), id.dta_len);
    std::memcpy(transaction_id, id.dta, length < FACE_SESSION_ID_LENGTH ? length : FACE_SESSION_ID_LENGTH);
    eidSaveToCardCache(&face_card_cache, &records.out);
    return 0;
}

}  // namespace

extern "C" TARVIK_EXPORT int eidAuthenticationOnline(int handle, int m0, int m1, int m2, int m3, int m4, int m5,
                                                     int m6, int m7, int m8, int m9, const char* pin,
                                                     char* transaction_id) try {
    const kit::LibraryCall call;
    const int32_t masks[EID_REQUEST_MASKS] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    return authenticate(handle, masks, pin, transaction_id);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
