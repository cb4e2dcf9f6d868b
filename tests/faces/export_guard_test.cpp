// Allocation failures under the exports of libtarvik.so: each answers its
// failure code and no exception reaches the host. Each case runs in a
// process of its own, so each meets the state a fresh host has.
#include <gtest/gtest.h>

#include <jni.h>

#include <cstdlib>

#include "tarvik.h"
#include "tarvik/faces/jni_face.h"
#include "tests/engine/failing_new.h"

using kit::test::with_failing_new;

namespace {

// A JNI environment that knows strings only: enough for the natives to get
// as far as their first allocation.
class StringsOnlyEnv {
public:
    StringsOnlyEnv() {
        table_.GetStringUTFChars = [](JNIEnv*, jstring text, jboolean*) -> const char* {
            return reinterpret_cast<const char*>(text);
        };
        table_.ReleaseStringUTFChars = [](JNIEnv*, jstring, const char*) {};
        table_.GetStringLength = [](JNIEnv*, jstring) -> jsize { return 1; };
        env_.functions = &table_;
    }
    JNIEnv* get() { return &env_; }
    static jstring text(const char* chars) { return reinterpret_cast<jstring>(const_cast<char*>(chars)); }

private:
    JNINativeInterface_ table_{};
    JNIEnv env_{};
};

TEST(TarvikExportGuard, PlainStartUpAnswersFailure) {
    EXPECT_EQ(with_failing_new([] { return eidStartOnline("https://127.0.0.1/x"); }), -1);
    EXPECT_EQ(with_failing_new([] { return eidStartAccessRights("logs"); }), -1);
}

TEST(TarvikExportGuard, PlainReaderListAnswersFailure) {
    char text[PLAIN_READER_LIST_SIZE] = "";
    EXPECT_EQ(with_failing_new([&] { return getIccList(text); }), -1);
}

TEST(TarvikExportGuard, PlainOpenAnswersFailure) {
    EXPECT_EQ(with_failing_new([] { return openDevice("Kit Plain 00 00"); }), -1);
}

TEST(TarvikExportGuard, JniNativesAnswerTheirFailures) {
    StringsOnlyEnv env;
    const jobject self = nullptr;
    EXPECT_EQ(with_failing_new([&] { return DUZEDORIRE_NATIVE(getIccList)(env.get(), self); }), -1);
    EXPECT_EQ(with_failing_new([&] {
                  return DUZEDORIRE_NATIVE(setSPELibrary)(env.get(), self, env.text("Kit Plain 00 00"), env.text("spe"));
              }),
              -1);
    EXPECT_EQ(with_failing_new([&] {
                  return DUZEDORIRE_NATIVE(readEidPublicIdentify)(env.get(), self, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
              }),
              -1);
    EXPECT_EQ(with_failing_new([&] {
                  return DUZEDORIRE_NATIVE(eidSigningData)(env.get(), self, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                           env.text("1234"), env.text("AB"), env.text("doc"));
              }),
              -1);
    EXPECT_EQ(with_failing_new([&] { return DUZEDORIRE_NATIVE(gethash)(env.get(), self, 0, env.text("abc"), 0); }),
              nullptr);
}

}  // namespace
