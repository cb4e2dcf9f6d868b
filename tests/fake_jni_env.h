// A JNI environment that knows strings only, enough for natives that read
// their string arguments: a jstring is a pointer to its UTF-8 bytes. With
// copies on, GetStringUTFChars hands out a copy of its own (isCopy true), as
// HotSpot does, and each release records the copy's bytes as they were at
// that moment, so a test sees whether a native wiped them.
#ifndef KIT_TESTS_FAKE_JNI_ENV_H
#define KIT_TESTS_FAKE_JNI_ENV_H

#include <jni.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace kit::test {

class StringsOnlyEnv {
public:
    explicit StringsOnlyEnv(bool copies = false) {
        released().clear();
        table_.GetStringUTFChars = copies ? get_copy : get_in_place;
        table_.ReleaseStringUTFChars = copies ? release_copy : release_in_place;
        table_.GetStringLength = [](JNIEnv*, jstring text) -> jsize {
            return static_cast<jsize>(std::strlen(reinterpret_cast<const char*>(text)));
        };
        env_.functions = &table_;
    }
    JNIEnv* get() { return &env_; }
    static jstring text(const char* chars) { return reinterpret_cast<jstring>(const_cast<char*>(chars)); }
    // The bytes of each released copy, in the order of the releases.
    static std::vector<std::string>& released() {
        static std::vector<std::string> texts;
        return texts;
    }

private:
    static std::map<const char*, std::size_t>& copy_lengths() {
        static std::map<const char*, std::size_t> lengths;
        return lengths;
    }
    static const char* get_in_place(JNIEnv*, jstring text, jboolean* is_copy) {
        if (is_copy != nullptr) *is_copy = JNI_FALSE;
        return reinterpret_cast<const char*>(text);
    }
    static void release_in_place(JNIEnv*, jstring, const char*) {}
    static const char* get_copy(JNIEnv*, jstring text, jboolean* is_copy) {
        const char* source = reinterpret_cast<const char*>(text);
        const std::size_t length = std::strlen(source);
        char* copy = new char[length + 1];
        std::memcpy(copy, source, length + 1);
        copy_lengths()[copy] = length;
        if (is_copy != nullptr) *is_copy = JNI_TRUE;
        return copy;
    }
    static void release_copy(JNIEnv*, jstring, const char* chars) {
        released().emplace_back(chars, copy_lengths().at(chars));
        copy_lengths().erase(chars);
        delete[] chars;
    }

    JNINativeInterface_ table_{};
    JNIEnv env_{};
};

}  // namespace kit::test

#endif
