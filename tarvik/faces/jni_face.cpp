// The JNI face of DuzEdorire: start-up, reader, hash and the public-data
// natives.
#include "tarvik/faces/jni_face.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "orvel.h"
#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_records.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/engine/renderings.h"
#include "tarvik/faces/face_state.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik/faces/jni_support.h"
#include "tarvik/faces/jni_transaction.h"
#include "tarvik/faces/log_directory.h"
#include "tarvik/faces/server_transport.h"
#include "tarvik/reader/hcl.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

#define NATIVE_NAME(name) "Java_com_velmora_tessaro_client_pcsc_common_DuzEdorire_" #name

namespace {

using jni_support::Utf8Chars;

std::string upper_hex(const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string sha1_hex(const char* text) {
    S_EID_DATA input{}, digest{};
    init_S_EID_DATA(&input);
    init_S_EID_DATA(&digest);
    // The text is made once the records are freed: running out of memory
    // there leaks nothing.
    std::array<unsigned char, 20> bytes{};
    std::size_t count = 0;
    if (init_S_EID_DATA(&input, reinterpret_cast<const unsigned char*>(text), static_cast<int32_t>(std::strlen(text)),
                        nullptr, 0) == 0 &&
        eidSha1(&input, &digest) == 0) {
        count = std::min<std::size_t>(digest.dta_len, bytes.size());
        std::memcpy(bytes.data(), digest.dta, count);
    }
    free_S_EID_DATA(&input);
    free_S_EID_DATA(&digest);
    return upper_hex(bytes.data(), count);
}

// server_url := authen_host; false when the field is missing.
bool read_server_url(JNIEnv* env, jobject self) {
    const auto host = jni_support::get_string_field(env, self, "authen_host");
    if (!host) return false;
    if (host->present) {
        std::memset(server_url, 0, sizeof server_url);
        if (host->text.size() < sizeof server_url) std::memcpy(server_url, host->text.data(), host->text.size());
    }
    return true;
}

// Sets a text field of readEidPublicIdentify; such a field may be missing.
void set_optional_text(JNIEnv* env, jobject self, const char* field, const std::string& text) {
    jni_support::set_string_field(env, self, field, text);
}

std::string render_file(int (*renderer)(const S_EID_DATA*, int, char*, std::size_t), const S_EID_DATA& file,
                        int format, std::size_t capacity) {
    if (!has_data(file)) return {};
    std::vector<char> text(capacity, '\0');
    return renderer(&file, format, text.data(), text.size()) == 0 ? std::string(text.data()) : std::string();
}

int set_identify_fields(JNIEnv* env, jobject self, int format, const jint (&masks)[EID_REQUEST_MASKS],
                        const S_EID_FUNCTION_OUTPUT& out) {
    if (masks[0] != 0)
        set_optional_text(env, self, "str_ID_Address",
                          render_file(generateIdAddressText, out.id_address, format, RENDER_ID_ADDRESS_MAX));
    if (masks[2] != 0)
        set_optional_text(env, self, "str_ID_RN", render_file(generateIdRnText, out.id_rn, format, RENDER_ID_RN_MAX));
    if (masks[3] != 0) {
        const bool photo = has_data(out.id_photo);
        set_optional_text(env, self, "str_ascii_photo", photo ? upper_hex(out.id_photo.dta, out.id_photo.dta_len) : "");
        if (!jni_support::set_int_field(env, self, "photo_size", photo ? static_cast<jint>(out.id_photo.dta_len) : 0)) {
            FACE_TRACE(NATIVE_NAME(readEidPublicIdentify), "ERROR in DuzEdorire_readEidPublicIdentify(), field photo_size missing");
            return -1;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(destroyApplet)(JNIEnv*, jobject) try {
    const kit::LibraryCall call;
    clear_card_cache();
    return 0;
} catch (...) {
    return kit::export_failure(__func__, 0);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(getIccList)(JNIEnv* env, jobject self) try {
    const kit::LibraryCall call;
    std::string data_directory = join_bounded(face_log_directory(), "digIDs/", LOG_DIRECTORY_SIZE);
    const std::string log_file = join_bounded(data_directory, "eidzundelog.txt", LOG_DIRECTORY_SIZE);
    __settraceopts(255);
    if (!log_file.empty()) __settracefile(log_file.c_str());
    if (data_directory.empty()) data_directory = "./";
    eidInitWeb(java_tx_rx_xml, data_directory.c_str());
    if (!read_server_url(env, self)) {
        FACE_TRACE(NATIVE_NAME(getIccList), "ERROR in DuzEdorire_getIccList(), field authen_host missing");
        return -1;
    }
    char readers[HCL_READER_LIST_MAX] = {};
    eidGetIccList(readers);
    if (!jni_support::set_string_field(env, self, "str_getIccList", readers[0] != '\0' ? readers : "no readers")) {
        FACE_TRACE(NATIVE_NAME(getIccList), "ERROR in DuzEdorire_getIccList(), field str_getIccList missing");
        return -1;
    }
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(openDevice)(JNIEnv* env, jobject, jstring reader_name) try {
    const kit::LibraryCall call;
    std::memset(face_session_id, 0, sizeof face_session_id);
    eidGenerateTransactionIDText(face_session_id);
    clear_card_cache();
    Utf8Chars name(env, reader_name);
    int handle = -1;
    const int rc = eidOpenReaderB(name.get(), &handle);
    if (rc != 0) {
        FACE_TRACE(NATIVE_NAME(openDevice),
                   "ERROR in DuzEdorire_openDevice() while calling eidOpenReaderB(). Error code: %d (0x%08X)", rc,
                   static_cast<unsigned>(rc));
        return rc;
    }
    return handle;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(readEidPublicIdentify)(JNIEnv* env, jobject self, jint handle, jint format,
                                                                 DUZEDORIRE_MASKS) try {
    const kit::LibraryCall call;
    const jint masks[EID_REQUEST_MASKS] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    JniTransaction spec{
        {NATIVE_NAME(readEidPublicIdentify),
         "ERROR in DuzEdorire_readEidPublicIdentify(...) while calling eidGetCardIdentifier(...). Error code: %d "
         "(0x%08X)",
         "ERROR in DuzEdorire_readEidPublicIdentify(...), S_EID_DATA finput.id_session is NULL",
         "ERROR in DuzEdorire_readEidPublicIdentify() while calling eidPubDataCaptureIdentify(). Error code: %d "
         "(0x%08X)",
         nullptr,
         "ERROR in DuzEdorire_readEidPublicIdentify() while calling generateTransactionXml(). Error code: %d (0x%08X)"},
        IDENT_CAP_ONLINE,
        eidPubDataCaptureIdentify,
        {},
        [&](const S_EID_FUNCTION_OUTPUT& out) { return set_identify_fields(env, self, format, masks, out); },
        true};
    return run_jni_transaction(env, self, handle, masks, spec);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(readEidPublic)(JNIEnv* env, jobject self, jint handle, jint,
                                                         DUZEDORIRE_MASKS) try {
    const kit::LibraryCall call;
    const jint masks[EID_REQUEST_MASKS] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    JniTransaction spec{
        {NATIVE_NAME(readEidPublic),
         "ERROR in DuzEdorire_readEidPublic() while calling eidGetCardIdentifier(). Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_readEidPublic(), S_EID_DATA finput.id_session is NULL",
         "ERROR in DuzEdorire_readEidPublic() while calling eidPubDataCapture(). Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_readEidPublic(), S_EID_DATA foutput.id_transaction is empty. Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_readEidPublic() while calling generateTransactionXml(). Error code: %d (0x%08X)"},
        PUB_DATA_CAP_ONLINE,
        eidPubDataCapture,
        {},
        {},
        false};
    return run_jni_transaction(env, self, handle, masks, spec);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(eidPubDataVerify)(JNIEnv* env, jobject self, jint handle, jint,
                                                            DUZEDORIRE_MASKS) try {
    const kit::LibraryCall call;
    const jint masks[EID_REQUEST_MASKS] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    JniTransaction spec{
        {NATIVE_NAME(eidPubDataVerify),
         "ERROR in DuzEdorire_eidPubDataVerify(...) while calling eidGetCardIdentifier(...). Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_eidPubDataVerify(...), S_EID_DATA finput.id_session is NULL",
         "ERROR in DuzEdorire_eidPubDataVerify(...) while calling eidPubDataVerify(). Error code: %d (0x%08X)",
         "ERROR in DuzEdorire_eidPubDataVerify(...), S_EID_DATA foutput.id_transaction is empty",
         "ERROR in DuzEdorire_eidPubDataVerify(...) while calling generateTransactionXml(...)"},
        PUB_DATA_VER_ONLINE,
        eidPubDataVerify,
        {},
        {},
        false};
    spec.answer_failed_checks = true;
    return run_jni_transaction(env, self, handle, masks, spec);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jstring JNICALL DUZEDORIRE_NATIVE(gethash)(JNIEnv* env, jobject, jint, jstring text, jint) try {
    const kit::LibraryCall call;
    Utf8Chars chars(env, text);
    if (chars.get() == nullptr || chars.get()[0] == '\0') return jni_support::new_string(env, "");
    return jni_support::new_string(env, sha1_hex(chars.get()));
} catch (...) {
    return kit::export_failure(__func__, nullptr);
}

}  // extern "C"
