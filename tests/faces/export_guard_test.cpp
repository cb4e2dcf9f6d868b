// Allocation failures under the exports of libtarvik.so: each answers its
// failure code and no exception reaches the host. Each case runs in a
// process of its own, so each meets the state a fresh host has. And the
// JVM's copies of a PIN string go back wiped.
#include <gtest/gtest.h>

#include <jni.h>

#include <cstdlib>

#include "tarvik.h"
#include "tarvik/faces/jni_face.h"
#include "tests/engine/failing_new.h"
#include "tests/fake_jni_env.h"

using kit::test::with_failing_new;

namespace {

using kit::test::StringsOnlyEnv;

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

// The JVM hands a native a copy of a PIN string: it is wiped before release.
TEST(TarvikPinCopies, AreWipedBeforeTheyGoBackToTheJvm) {
    StringsOnlyEnv env(/*copies=*/true);
    const jobject self = nullptr;
    DUZEDORIRE_NATIVE(eidAuthentication)(env.get(), self, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, env.text("1234"));
    DUZEDORIRE_NATIVE(eidSigningData)(env.get(), self, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, env.text("5678"),
                                      env.text("AB"), env.text("doc"));
    ASSERT_EQ(StringsOnlyEnv::released().size(), 4u);  // the PINs, the hash and the reference
    for (const std::string& copy : StringsOnlyEnv::released())
        EXPECT_EQ(copy, std::string(copy.size(), '\0'));
}
