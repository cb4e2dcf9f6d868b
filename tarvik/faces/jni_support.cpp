#include "tarvik/faces/jni_support.h"

#include <cstdint>
#include <cstring>

#include "platform/secret_wipe.h"

namespace jni_support {

namespace {

constexpr const char* kStringSignature = "Ljava/lang/String;";

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at i (1 to 4), or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = at(i);
    const std::size_t left = s.size() - i;
    if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && continuation(at(i + 1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !continuation(at(i + 1)) || !continuation(at(i + 2))) return 0;
        if (lead == 0xE0 && at(i + 1) < 0xA0) return 0;   // over-long
        if (lead == 0xED && at(i + 1) >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !continuation(at(i + 1)) || !continuation(at(i + 2)) || !continuation(at(i + 3))) return 0;
        if (lead == 0xF0 && at(i + 1) < 0x90) return 0;
        if (lead == 0xF4 && at(i + 1) >= 0x90) return 0;
        return 4;
    }
    return 0;
}

void append_three_byte(std::string& out, uint32_t unit) {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
}

void append_supplementary(std::string& out, std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[k])); };
    const uint32_t code = ((at(i) & 0x07) << 18) | ((at(i + 1) & 0x3F) << 12) | ((at(i + 2) & 0x3F) << 6) |
                          (at(i + 3) & 0x3F);
    const uint32_t v = code - 0x10000;
    append_three_byte(out, 0xD800 | (v >> 10));
    append_three_byte(out, 0xDC00 | (v & 0x3FF));
}

jfieldID field(JNIEnv* env, jobject object, const char* name, const char* signature) {
    jclass cls = env->GetObjectClass(object);
    if (cls == nullptr) {
        env->ExceptionClear();
        return nullptr;
    }
    jfieldID id = env->GetFieldID(cls, name, signature);
    env->DeleteLocalRef(cls);
    if (id == nullptr) env->ExceptionClear();
    return id;
}

}  // namespace

std::string to_modified_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == 0) {
            out += "\xC0\x80";
            ++i;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
        } else if (const std::size_t n = utf8_sequence(bytes, i); n == 4) {
            append_supplementary(out, bytes, i);
            i += 4;
        } else if (n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
            ++i;
        }
    }
    return out;
}

Utf8Chars::Utf8Chars(JNIEnv* env, jstring text) : env_(env), text_(text) {
    if (text_ != nullptr) {
        chars_ = env_->GetStringUTFChars(text_, &is_copy_);
        if (chars_ == nullptr) env_->ExceptionClear();
    }
}

Utf8Chars::~Utf8Chars() {
    if (chars_ == nullptr) return;
    // A copy may hold a PIN: it is wiped before the JVM frees it.
    if (is_copy_ == JNI_TRUE) wipe_secret(const_cast<char*>(chars_), std::strlen(chars_));
    env_->ReleaseStringUTFChars(text_, chars_);
}

jstring new_string(JNIEnv* env, std::string_view bytes) {
    const std::string text = to_modified_utf8(bytes);
    jstring result = env->NewStringUTF(text.c_str());
    if (result == nullptr) env->ExceptionClear();
    return result;
}

bool set_string_field(JNIEnv* env, jobject object, const char* name, std::string_view bytes) {
    jfieldID id = field(env, object, name, kStringSignature);
    if (id == nullptr) return false;
    jstring value = new_string(env, bytes);
    if (value == nullptr) return false;
    env->SetObjectField(object, id, value);
    env->DeleteLocalRef(value);
    return true;
}

bool set_int_field(JNIEnv* env, jobject object, const char* name, jint value) {
    jfieldID id = field(env, object, name, "I");
    if (id == nullptr) return false;
    env->SetIntField(object, id, value);
    return true;
}

std::optional<StringField> get_string_field(JNIEnv* env, jobject object, const char* name) {
    jfieldID id = field(env, object, name, kStringSignature);
    if (id == nullptr) return std::nullopt;
    auto value = static_cast<jstring>(env->GetObjectField(object, id));
    StringField result;
    if (value != nullptr) {
        Utf8Chars chars(env, value);
        if (chars.get() != nullptr) {
            result.present = true;
            result.text = chars.get();
        }
    }
    if (value != nullptr) env->DeleteLocalRef(value);
    return result;
}

}  // namespace jni_support
