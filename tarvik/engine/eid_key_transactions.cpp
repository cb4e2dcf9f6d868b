#include "tarvik/engine/eid_key_transactions.h"

#include "orvel.h"
#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_controller_tables.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_pin.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/engine/eid_sign.h"
#include "tarvik/engine/tllv_presets.h"

#define KEY_TRACE(fn, ...) __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, __VA_ARGS__)

namespace {

using Preset = int (*)(S_EID_TLLV_SELECTOR*);
using PresentPin = int (*)(int, const char*);
using VerifyCardSignature = int (*)(const S_EID_DATA*, const S_EID_DATA*, const S_EID_CERT*, int*);

// What differs between the two transactions once the frame has run.
struct KeyTransaction {
    const char* name;
    PresentPin present_pin;
    unsigned int certificate_number;
    S_EID_CERT S_EID_FUNCTION_OUTPUT::*certificate;
    S_EID_DATA S_EID_FUNCTION_OUTPUT::*to_sign;
    S_EID_DATA S_EID_FUNCTION_OUTPUT::*signature;
    int32_t S_EID_FUNCTION_OUTPUT::*status;
    VerifyCardSignature verify;
    const char* verify_failed_text;
    Preset closing_request;
    Preset closing_reply;
};

int exchange(S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, Preset request_preset, Preset reply_preset) {
    S_EID_TLLV_SELECTOR request{};
    S_EID_TLLV_SELECTOR reply{};
    init_S_EID_TLLV_SELECTOR(&request);
    init_S_EID_TLLV_SELECTOR(&reply);
    request_preset(&request);
    reply_preset(&reply);
    return communicationCallBack(&request, in, &reply, out);
}

// Tables `first` to `last` in order; the first failing row ends them.
int run_tables(const KeyTransaction& kind, int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
               const EidCertFileNames& names, EidTable first, EidTable last) {
    for (int i = static_cast<int>(first); i <= static_cast<int>(last); ++i) {
        const auto table = static_cast<EidTable>(i);
        if (const int result = eidRunControllerTable(table, handle, in, out, &names); result != 0) {
            KEY_TRACE(kind.name, "ERROR in %s(...) while calling %s(...)", kind.name, eid_table_dispatcher_name(table));
            return result;
        }
    }
    return 0;
}

// The PIN, the card's signature, and the key's certificate.
int sign_on_card(const KeyTransaction& kind, int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out) {
    // Checked before the PIN: a request the card cannot sign spends no try.
    if (eid_sign_input_check((out->*kind.to_sign).dta_len) != EID_SIGN_OK) {
        KEY_TRACE(kind.name, "ERROR in %s(...) while calling eidSignChallenge(...)", kind.name);
        return EID_SIGN_REFUSED;
    }
    const char* pin = reinterpret_cast<const char*>(in->pincode.dta);
    if (const int presented = kind.present_pin(handle, pin); presented != 0) {
        KEY_TRACE(kind.name, "ERROR in %s(...), PIN code not OK", kind.name);
        return presented;
    }
    if (const int signed_ = eidSignChallenge(handle, &(out->*kind.to_sign), &(out->*kind.signature)); signed_ != 0) {
        KEY_TRACE(kind.name, "ERROR in %s(...) while calling eidSignChallenge(...)", kind.name);
        return signed_;
    }
    S_EID_CERT& certificate = out->*kind.certificate;
    if (certificate.no == 0 || certificate.crt_len == 0) {
        if (const int read = eidReadCertificate(handle, kind.certificate_number, &certificate); read != 0) {
            KEY_TRACE(kind.name, "ERROR in %s(...) while calling eidReadCertificate(...)", kind.name);
            return read;
        }
    }
    return 0;
}

// From the PIN to the last controller table, then the local check (offline)
// or the closing exchange (online).
int key_work(const KeyTransaction& kind, int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
             bool online) {
    EidCertFileNames names{};
    if (eidMakeCertFileNames(out, &names) != 0) {
        KEY_TRACE(kind.name, "ERROR in %s(...), certificate file names do not fit", kind.name);
        return -1;
    }
    if (const int signed_ = sign_on_card(kind, handle, in, out); signed_ != 0) return signed_;
    if (const int read = run_tables(kind, handle, in, out, names, EidTable::ReadPubData, EidTable::ReadCert); read != 0)
        return read;
    S_EID_CERT& certificate = out->*kind.certificate;
    if (!online && is_empty_S_EID_CERT_dsc(&certificate) && certificate.no != 0 && certificate.crt_len != 0)
        eidSaveX509(&certificate, kind.certificate_number == 2 ? names.cert2 : names.cert3);  // a copy for the host; its failure is not the transaction's
    if (const int checked = run_tables(kind, handle, in, out, names, EidTable::SaveX509, EidTable::CcvCheck); checked != 0)
        return checked;
    if (online) return exchange(in, out, kind.closing_request, kind.closing_reply);
    if (const int verified = kind.verify(&(out->*kind.to_sign), &(out->*kind.signature), &certificate, &(out->*kind.status));
        verified != 0) {
        KEY_TRACE(kind.name, "%s", kind.verify_failed_text);
        return verified;
    }
    return 0;
}

const KeyTransaction kAuthentication{
    "eidAuthentication",
    eidPresentPinAuthen,
    2,
    &S_EID_FUNCTION_OUTPUT::cert2,
    &S_EID_FUNCTION_OUTPUT::auth_chal,
    &S_EID_FUNCTION_OUTPUT::auth_sgn,
    &S_EID_FUNCTION_OUTPUT::auth_stat,
    eidVerifySgnAuthentication,
    "ERROR in eidAuthentication(...), Abnormal ending of authentication verification process",
    init_S_EID_TLLV_SELECTOR_authen2_tx,
    init_S_EID_TLLV_SELECTOR_authen2_rx,
};

const KeyTransaction kSigning{
    "eidSigningData",
    eidPresentPinSign,
    3,
    &S_EID_FUNCTION_OUTPUT::cert3,
    &S_EID_FUNCTION_OUTPUT::sign_hash,
    &S_EID_FUNCTION_OUTPUT::sign_sgn,
    &S_EID_FUNCTION_OUTPUT::sign_stat,
    eidVerifySgnSigning,
    "ERROR in eidSigningData(...), abnormal ending of signing verification process",
    init_S_EID_TLLV_SELECTOR_signing_tx,
    init_S_EID_TLLV_SELECTOR_signing_rx,
};

int authentication_work(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online) {
    static constexpr const char* kFn = "eidAuthentication";
    if (online) {
        // The first exchange only brings the challenge and the identifier;
        // what it did not bring stays empty and the signing step reports it.
        out->function_id = EID_AUTHENT_FIRST_EXCHANGE;
        exchange(in, out, init_S_EID_TLLV_SELECTOR_authen1_tx, init_S_EID_TLLV_SELECTOR_authen1_rx);
        out->function_id = AUTHENT_ONLINE;
    } else if (const int made = eidGenerateChallenge(&out->auth_chal); made != 0) {
        KEY_TRACE(kFn, "ERROR in eidAuthentication(...) while calling eidGenerateChallenge(...)");
        return made;
    }
    return key_work(kAuthentication, handle, in, out, online);
}

int signing_work(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online) {
    if (const int copied = copy_S_EID_DATA(&in->hash1, &out->sign_hash); copied != 0) {
        KEY_TRACE("eidSigningData", "ERROR in eidSigningData(...) while calling copy_S_EID_DATA(...)");
        return copied;
    }
    return key_work(kSigning, handle, in, out, online);
}

constexpr EidTransactionProfile kAuthenticationProfile{
    "eidAuthentication",
    AUTHENT,
    AUTHENT_ONLINE,
    AUTHENT_OFFLINE,
    "ERROR in eidAuthentication(). No smartcard reader selected, char * reader_name is empty",
    "ERROR in eidAuthentication(...) while calling eidCheckCard(...)",
    false,
    "ERROR in eidAuthentication(...), eID function name is incorrect",
    "ERROR in eidAuthentication(...), eID function name is incorrect",
    "ERROR in eidAuthentication(...) while calling eidGenerateTransactionID(...)",
};

constexpr EidTransactionProfile kSigningProfile{
    "eidSigningData",
    SIGNING,
    SIGNING_ONLINE,
    SIGNING_OFFLINE,
    "ERROR in eidSigningData(). No smartcard reader selected, char * reader_name is empty",
    "ERROR in eidSigningData(...) while calling eidCheckCard(...)",
    false,
    "ERROR in eidSigningData(...), eID function name is incorrect",
    "ERROR in eidSigningData(...), eID function name is incorrect",
    "ERROR in eidSigningData(...) while calling eidGenerateTransactionID(...)",
};

}  // namespace

int eidAuthentication(int handle, S_EID_FUNCTION_INPUT* input, S_EID_FUNCTION_OUTPUT* output) {
    return eid_run_transaction(kAuthenticationProfile, handle, input, output, authentication_work);
}

int eidSigningData(int handle, S_EID_FUNCTION_INPUT* input, S_EID_FUNCTION_OUTPUT* output) {
    return eid_run_transaction(kSigningProfile, handle, input, output, signing_work);
}
