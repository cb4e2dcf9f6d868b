#include "tarvik/engine/eid_public_transactions.h"

#include "orvel.h"
#include "tarvik/engine/eid_controller_tables.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/tllv_presets.h"

namespace {

using Preset = int (*)(S_EID_TLLV_SELECTOR*);

int exchange(S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, Preset request_preset, Preset reply_preset) {
    S_EID_TLLV_SELECTOR request{};
    S_EID_TLLV_SELECTOR reply{};
    init_S_EID_TLLV_SELECTOR(&request);
    init_S_EID_TLLV_SELECTOR(&reply);
    request_preset(&request);
    reply_preset(&reply);
    return communicationCallBack(&request, in, &reply, out);
}

int run_tables(const char* fn, int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
               const EidCertFileNames* names, EidTable last) {
    EidTable failed = EidTable::ReadPubData;
    const int result = eidRunControllerTables(handle, in, out, names, last, &failed);
    if (result != 0)
        __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, "ERROR in %s(...) while calling %s(...)", fn,
                 eid_table_dispatcher_name(failed));
    return result;
}

// Names, all six tables, and online the closing exchange.
int public_data_work(const char* fn, int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online,
                     Preset request_preset, Preset reply_preset) {
    EidCertFileNames names{};
    if (eidMakeCertFileNames(out, &names) != 0) {
        __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, "ERROR in %s(...), certificate file names do not fit", fn);
        return -1;
    }
    const int result = run_tables(fn, handle, in, out, &names, EidTable::CcvCheck);
    if (result != 0 || !online) return result;
    return exchange(in, out, request_preset, reply_preset);
}

int identify_work(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online) {
    const int result = run_tables("eidPubDataCaptureIdentify", handle, in, out, nullptr, EidTable::ReadPubData);
    if (result != 0 || !online) return result;
    return exchange(in, out, init_S_EID_TLLV_SELECTOR_identify_tx, init_S_EID_TLLV_SELECTOR_identify_rx);
}

int capture_work(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online) {
    return public_data_work("eidPubDataCapture", handle, in, out, online, init_S_EID_TLLV_SELECTOR_capture_tx,
                            init_S_EID_TLLV_SELECTOR_capture_rx);
}

int verify_work(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online) {
    return public_data_work("eidPubDataVerify", handle, in, out, online, init_S_EID_TLLV_SELECTOR_verify_tx,
                            init_S_EID_TLLV_SELECTOR_verify_rx);
}

constexpr EidTransactionSpec kIdentify{
    "eidPubDataCaptureIdentify",
    IDENT_CAP,
    IDENT_CAP_ONLINE,
    IDENT_CAP_OFFLINE,
    "ERROR in eidPubDataCaptureIdentify(). No smartcard reader selected, char * reader_name is empty",
    nullptr,
    false,
    "ERROR in eidPubDataCaptureIdentify(...), eID function ID is incorrect",
    "ERROR: eID function name is incorrect",
    "ERROR in eidPubDataCaptureIdentify(...) while calling eidGenerateTransactionID(...)",
};

constexpr EidTransactionSpec kCapture{
    "eidPubDataCapture",
    PUB_DATA_CAP,
    PUB_DATA_CAP_ONLINE,
    PUB_DATA_CAP_OFFLINE,
    "ERROR in eidPubDataCapture(). No smartcard reader selected, char * reader_name is empty",
    "ERROR in eidPubDataCapture(...) while calling eidCheckCard(...).",
    true,
    "ERROR in eidPubDataCapture(...), eID function name is incorrect",
    "ERROR in eidPubDataCapture(...), eID function name is incorrect",
    "ERROR in eidPubDataCapture(...) while calling eidGenerateTransactionID(...)",
};

constexpr EidTransactionSpec kVerify{
    "eidPubDataVerify",
    PUB_DATA_VER,
    PUB_DATA_VER_ONLINE,
    PUB_DATA_VER_OFFLINE,
    "ERROR in eidPubDataVerify(). No smartcard reader selected, char * reader_name is empty",
    "ERROR in eidPubDataVerify(...) while calling eidCheckCard(...)",
    false,
    "ERROR in eidPubDataVerify(...), eID function name is incorrect",
    "ERROR in eidPubDataVerify(...) eID function name is incorrect",
    "ERROR in eidPubDataVerify(...) while calling eidGenerateTransactionID(...)",
};

}  // namespace

int eidPubDataCaptureIdentify(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out) {
    return eid_run_transaction(kIdentify, handle, in, out, identify_work);
}

int eidPubDataCapture(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out) {
    return eid_run_transaction(kCapture, handle, in, out, capture_work);
}

int eidPubDataVerify(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out) {
    return eid_run_transaction(kVerify, handle, in, out, verify_work);
}
