// Natives of com.velmora.vindra.Vindra: each calls the flat API and leaves
// its texts in fields of the calling object. No C++ exception leaves a native.
#include <jni.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "orvel.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"
#include "platform/file_writer.h"
#include "platform/secret_wipe.h"
#include "selvane.h"
#include "selvane/java_text.h"

namespace {

constexpr const char* kTraceName = "Vindra";

// A Java string's modified UTF-8, released when it goes, and wiped first
// when the JVM made it a copy (it may hold a PIN); "" for null.
class JavaChars {
public:
    JavaChars(JNIEnv* env, jstring text) : env_(env), text_(text) {
        if (text_) chars_ = env_->GetStringUTFChars(text_, &is_copy_);  // null: OutOfMemoryError pending
    }
    ~JavaChars() {
        if (!chars_) return;
        if (is_copy_ == JNI_TRUE) wipe_secret(const_cast<char*>(chars_), std::strlen(chars_));
        env_->ReleaseStringUTFChars(text_, chars_);
    }
    JavaChars(const JavaChars&) = delete;
    JavaChars& operator=(const JavaChars&) = delete;

    const char* c_str() const { return chars_ ? chars_ : ""; }
    bool null() const { return chars_ == nullptr; }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_ = nullptr;
    jboolean is_copy_ = JNI_FALSE;
};

// The field's id; null with the Java error left pending for the caller.
jfieldID field_id(JNIEnv* env, jobject self, const char* name, const char* signature) {
    jclass cls = env->GetObjectClass(self);
    jfieldID field = env->GetFieldID(cls, name, signature);
    const bool failed = env->ExceptionCheck();
    env->DeleteLocalRef(cls);
    return failed ? nullptr : field;
}

void set_string_field(JNIEnv* env, jobject self, const char* name, const std::u16string& text) {
    if (env->ExceptionCheck()) return;
    jfieldID field = field_id(env, self, name, "Ljava/lang/String;");
    if (!field) return;
    jstring value = env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
    if (env->ExceptionCheck() || !value) return;
    env->SetObjectField(self, field, value);
    env->DeleteLocalRef(value);
}

void set_text_field(JNIEnv* env, jobject self, const char* name, const char* text) {
    set_string_field(env, self, name, selvane::java::from_utf8_or_ansi(text));
}

void set_oem_field(JNIEnv* env, jobject self, const char* name, const char* text) {
    set_string_field(env, self, name, selvane::java::from_oem(text));
}

void set_int_field(JNIEnv* env, jobject self, const char* name, int value) {
    if (env->ExceptionCheck()) return;
    if (jfieldID field = field_id(env, self, name, "I")) env->SetIntField(self, field, value);
}

std::string hex_upper(const unsigned char* bytes, int count) {
    std::string out;
    char two[3];
    for (int i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

void write_photo(const char* path, const std::vector<unsigned char>& photo, int length) {
    switch (kit::platform::write_file(path, std::span(photo.data(), static_cast<std::size_t>(length)))) {
    case kit::platform::WriteResult::written: break;
    case kit::platform::WriteResult::not_opened:
        __tracef(ORVEL_DEBUG, kTraceName, __FILE__, __LINE__, "Cannot open file [%s]", path);
        break;
    case kit::platform::WriteResult::not_written:
        __tracef(ORVEL_DEBUG, kTraceName, __FILE__, __LINE__, "Cannot write file [%s]", path);
        break;
    }
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_ngetDevices(JNIEnv* env, jobject self, jint mode) {
    const kit::LibraryCall call;
    try {
        std::vector<char> devices(SELVANE_DEVICES_SIZE, '\0');
        PCSC_Get_devices(mode, devices.data());
        set_text_field(env, self, "vindra_devices", devices.data());
    } catch (...) {
        return kit::export_failure(__func__, 0);
    }
    return 0;
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nopenDevice(JNIEnv* env, jobject, jstring reader) try {
    const kit::LibraryCall call;
    JavaChars name(env, reader);
    return PCSC_Open_device(name.c_str());
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nreaderStatus(JNIEnv* env, jobject self, jint handle) {
    const kit::LibraryCall call;
    // Defined values when the status call leaves them unset.
    int32_t powered = 0;
    int32_t removed = 1;
    unsigned char atr[SELVANE_ATR_SIZE] = {};
    int32_t atr_length = 0;
    const int32_t result = PCSC_Reader_Status(handle, &powered, &removed, atr, &atr_length);
    if (atr_length < 0 || atr_length > SELVANE_ATR_SIZE) atr_length = 0;
    try {
        set_int_field(env, self, "vindra_cardpowered", powered);
        set_int_field(env, self, "vindra_cardremoved", removed);
        const std::string hex = hex_upper(atr, atr_length);
        set_text_field(env, self, "vindra_atr", hex.c_str());
    } catch (...) {
        return kit::export_failure(__func__, result);
    }
    return result;
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nsisRead(JNIEnv* env, jobject self, jint handle, jint mode) {
    const kit::LibraryCall call;
    int32_t result = 0;
    try {
        std::vector<char> isdf(SELVANE_SIS_TEXT_SIZE, '\0');
        std::vector<char> pbdf(SELVANE_SIS_TEXT_SIZE, '\0');
        result = PCSC_SIS_Read(handle, mode, isdf.data(), pbdf.data());
        if (result == 1) {
            set_oem_field(env, self, "vindra_isdf_ascii", isdf.data());
            set_oem_field(env, self, "vindra_pbdf_ascii", pbdf.data());
        }
    } catch (...) {
        return kit::export_failure(__func__, result);
    }
    return result;
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nsisReadPrivate(JNIEnv* env, jobject self, jint handle,
                                                                      jint mode, jstring pin) {
    const kit::LibraryCall call;
    int32_t result = 0;
    try {
        JavaChars pin_chars(env, pin);
        std::vector<char> isdf(SELVANE_SIS_TEXT_SIZE, '\0');
        std::vector<char> pbdf(SELVANE_SIS_TEXT_SIZE, '\0');
        std::vector<char> sfdf(SELVANE_SFDF_TEXT_SIZE, '\0');
        result = PCSC_SIS_Read_Private(handle, mode, pin_chars.null() ? nullptr : pin_chars.c_str(), isdf.data(),
                                       pbdf.data(), sfdf.data());
        if (result == 1) {
            set_oem_field(env, self, "vindra_isdf_ascii", isdf.data());
            set_oem_field(env, self, "vindra_pbdf_ascii", pbdf.data());
            set_oem_field(env, self, "vindra_sfdf_ascii", sfdf.data());
        }
    } catch (...) {
        return kit::export_failure(__func__, result);
    }
    return result;
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nsisStatus(JNIEnv*, jobject) { return 0; }

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_neidRead(JNIEnv* env, jobject self, jint, jint mode,
                                                               jstring photo_path) {
    const kit::LibraryCall call;
    try {
        JavaChars path(env, photo_path);
        const bool want_photo = std::string_view(path.c_str()).size() > 1;
        std::vector<char> identity(SELVANE_EID_ID_TEXT_SIZE, '\0');
        std::vector<char> address(SELVANE_EID_ADDRESS_TEXT_SIZE, '\0');
        std::vector<unsigned char> photo(SELVANE_PHOTO_SIZE, 0);
        int32_t photo_length = want_photo ? SELVANE_PHOTO_SIZE : -1;
        const int32_t result = PCSC_EID_Read(0, mode, identity.data(), address.data(), photo.data(), &photo_length);
        if (result != 0) return result;
        if (want_photo) {
            const int length = photo_length < 0 || photo_length > SELVANE_PHOTO_SIZE ? 0 : photo_length;
            write_photo(path.c_str(), photo, length);
        }
        set_text_field(env, self, "vindra_ID_RN_ascii", identity.data());
        set_text_field(env, self, "vindra_ID_Address_ascii", address.data());
        return result;
    } catch (...) {
        return kit::export_failure(__func__, -1);
    }
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_ndisplayMessage(JNIEnv* env, jobject, jint handle, jstring text,
                                                                      jint a, jint b) try {
    const kit::LibraryCall call;
    JavaChars message(env, text);
    return PCSC_Display_Message(handle, message.c_str(), a, b);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nbeep(JNIEnv*, jobject, jint handle, jint a) try {
    const kit::LibraryCall call;
    return PCSC_Beep(handle, a);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
