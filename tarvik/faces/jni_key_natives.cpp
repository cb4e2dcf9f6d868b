// The JNI natives that use the card's keys: authentication and signing.
#include <cstdlib>
#include <cstring>

#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_key_transactions.h"
#include "tarvik/engine/renderings.h"
#include "tarvik/faces/face_state.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik/faces/hash_text.h"
#include "tarvik/faces/jni_face.h"
#include "tarvik/faces/jni_support.h"
#include "tarvik/faces/jni_transaction.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

#define NATIVE_NAME(name) "Java_com_velmora_tessaro_client_pcsc_common_DuzEdorire_" #name

namespace {

using jni_support::Utf8Chars;

constexpr int kHashRefused = 7001;
constexpr const char* kSigningName = NATIVE_NAME(eidSigningData);

int fill_pincode(S_EID_FUNCTION_INPUT& in, const char* pin, const char* name, const char* error) {
    if (set_pincode(in, pin) != 0) {
        FACE_TRACE(name, "%s", error);
        return -1;
    }
    return 0;
}

int fill_hash(S_EID_FUNCTION_INPUT& in, const char* hex) {
    auto* bytes = static_cast<unsigned char*>(std::calloc(HASH_TEXT_BYTES + 1, 1));
    if (bytes == nullptr) {
        FACE_TRACE(kSigningName, "ERROR in DuzEdorire_eidSigningData(...), unsigned char * finput.hash1.dta is NULL");
        return -1;
    }
    hexToData(bytes, hex, HASH_TEXT_BYTES);
    free_S_EID_DATA(&in.hash1);
    in.hash1.dta = bytes;
    in.hash1.dta_len = HASH_TEXT_BYTES;
    return 0;
}

int fill_document_reference(S_EID_FUNCTION_INPUT& in, const char* text) {
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length == 0) return 0;
    if (init_S_EID_DATA(&in.doc_ref1, reinterpret_cast<const unsigned char*>(text), static_cast<int32_t>(length),
                        nullptr, 0) != 0) {
        FACE_TRACE(kSigningName, "ERROR in DuzEdorire_eidSigningData(...), unsigned char * finput.doc_ref1.dta is NULL");
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(eidAuthentication)(JNIEnv* env, jobject self, jint handle, jint,
                                                             DUZEDORIRE_MASKS, jstring pin) try {
    const kit::LibraryCall call;
    const jint masks[EID_REQUEST_MASKS] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    Utf8Chars pin_text(env, pin);
    constexpr const char* kPinError = "ERROR in DuzEdorire_eidAuthentication(...), unsigned char * finput.pincode.dta is NULL";
    JniTransaction spec{
        {NATIVE_NAME(eidAuthentication), nullptr, kPinError,
         "ERROR in DuzEdorire_eidAuthentication() while calling eidAuthentication(). Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_eidAuthentication(...), S_EID_DATA foutput.id_transaction is empty",
         "ERROR in DuzEdorire_eidAuthentication(...) while calling generateTransactionXml(...)"},
        AUTHENT_ONLINE,
        eidAuthentication,
        [&](S_EID_FUNCTION_INPUT& in) {
            return fill_pincode(in, pin_text.get(), NATIVE_NAME(eidAuthentication), kPinError);
        },
        {},
        false};
    return run_jni_transaction(env, self, handle, masks, spec);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(eidSigningData)(JNIEnv* env, jobject self, jint handle, jint,
                                                          DUZEDORIRE_MASKS, jstring pin, jstring hash,
                                                          jstring document_reference) try {
    const kit::LibraryCall call;
    const jint masks[EID_REQUEST_MASKS] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    // The hash is checked before anything reaches the card.
    if (hash == nullptr || env->GetStringLength(hash) == 0) {
        FACE_TRACE(kSigningName, "ERROR in DuzEdorire_eidSigningData(...), hash length is ZERO");
        return kHashRefused;
    }
    Utf8Chars hash_text(env, hash);
    if (hash_text.get() == nullptr || !is_hash_text(hash_text.get())) {
        FACE_TRACE(kSigningName, "ERROR in DuzEdorire_eidSigningData(...), hash is not 1 to 40 hexadecimal digits");
        return kHashRefused;
    }
    Utf8Chars pin_text(env, pin);
    Utf8Chars reference(env, document_reference);
    constexpr const char* kPinError = "ERROR in DuzEdorire_eidSigningData(...), unsigned char * finput.pincode.dta is NULL";
    JniTransaction spec{
        {kSigningName,
         "ERROR in DuzEdorire_eidSigningData(...) while calling eidGetCardIdentifier(...). Error code: %d (0x%08X)",
         kPinError,
         "ERROR in DuzEdorire_eidSigningData() while calling eidSigningData(). Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_eidSigningData(...), S_EID_DATA foutput.id_transaction is empty",
         "ERROR in DuzEdorire_eidSigningData(...) while calling generateTransactionXml(...). Error code: %d (0x%08X)"},
        SIGNING_ONLINE,
        eidSigningData,
        [&](S_EID_FUNCTION_INPUT& in) {
            if (const int rc = fill_hash(in, hash_text.get()); rc != 0) return rc;
            if (const int rc = fill_document_reference(in, reference.get()); rc != 0) return rc;
            return fill_pincode(in, pin_text.get(), kSigningName, kPinError);
        },
        {},
        false};
    return run_jni_transaction(env, self, handle, masks, spec);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
