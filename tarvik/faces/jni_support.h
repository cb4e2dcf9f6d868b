// Small RAII helpers of the JNI face: UTF-8 copies of Java strings, field
// access by name that never leaves an exception pending, and texts made
// valid for NewStringUTF.
#ifndef TARVIK_FACES_JNI_SUPPORT_H
#define TARVIK_FACES_JNI_SUPPORT_H

#include <jni.h>

#include <optional>
#include <string>
#include <string_view>

namespace jni_support {

// Bytes as modified UTF-8: valid UTF-8 sequences of up to three bytes stay,
// four-byte sequences become surrogate pairs, a zero byte becomes C0 80,
// and any byte that starts no valid sequence is taken as Latin-1.
std::string to_modified_utf8(std::string_view bytes);

// The UTF-8 copy of a Java string, released when the object dies, and
// wiped first when the JVM made it a copy (it may hold a PIN). get() is null
// for a null string or when the copy could not be made.
class Utf8Chars {
public:
    Utf8Chars(JNIEnv* env, jstring text);
    ~Utf8Chars();
    Utf8Chars(const Utf8Chars&) = delete;
    Utf8Chars& operator=(const Utf8Chars&) = delete;
    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_ = nullptr;
    jboolean is_copy_ = JNI_FALSE;
};

// A new Java string of the bytes (made valid modified UTF-8); null when the
// JVM could not make it (the exception is cleared).
jstring new_string(JNIEnv* env, std::string_view bytes);

// Field access on the object's class by name. A missing field clears the
// NoSuchFieldError and answers false / nullopt.
bool set_string_field(JNIEnv* env, jobject object, const char* name, std::string_view bytes);
bool set_int_field(JNIEnv* env, jobject object, const char* name, jint value);
// nullopt when the field is missing; a null field gives present false.
struct StringField {
    bool present = false;  // field exists and holds a string
    std::string text;
};
std::optional<StringField> get_string_field(JNIEnv* env, jobject object, const char* name);

}  // namespace jni_support

#endif
