// The JNI face of DuzEdorire.
#include "tarvik/faces/jni_face.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_records.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik/faces/jni_support.h"

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
    std::string hex;
    if (init_S_EID_DATA(&input, reinterpret_cast<const unsigned char*>(text), static_cast<int32_t>(std::strlen(text)),
                        nullptr, 0) == 0 &&
        eidSha1(&input, &digest) == 0)
        hex = upper_hex(digest.dta, digest.dta_len);
    free_S_EID_DATA(&input);
    free_S_EID_DATA(&digest);
    return hex;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL DUZEDORIRE_NATIVE(gethash)(JNIEnv* env, jobject, jint, jstring text, jint) {
    Utf8Chars chars(env, text);
    if (chars.get() == nullptr || chars.get()[0] == '\0') return jni_support::new_string(env, "");
    return jni_support::new_string(env, sha1_hex(chars.get()));
}

}  // extern "C"
