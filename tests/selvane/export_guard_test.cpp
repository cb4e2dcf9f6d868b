// Allocation failures under the exports of libselvane.so (flat, BASIC and
// Vindra faces): each answers its failure code and no exception reaches the
// host. And the JVM's copy of a PIN string goes back wiped.
#include <gtest/gtest.h>

#include <jni.h>

#include <string>

#include "fake_tarvik_table.h"
#include "selvane.h"
#include "selvane/current_device.h"
#include "tests/engine/failing_new.h"
#include "tests/fake_jni_env.h"

using kit::test::with_failing_new;

extern "C" JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nopenDevice(JNIEnv* env, jobject, jstring reader);
extern "C" JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nsisReadPrivate(JNIEnv* env, jobject, jint handle,
                                                                                 jint mode, jstring pin);

namespace {

class SelvaneExportGuard : public ::testing::Test {
protected:
    void SetUp() override {
        fake::install();
        selvane::set_current_device(0);
    }
    void TearDown() override { selvane::tarvik_exports() = selvane::TarvikExports{}; }
};

TEST_F(SelvaneExportGuard, FlatExportsAnswerTheirFailures) {
    char devices[SELVANE_DEVICES_SIZE] = "";
    EXPECT_EQ(with_failing_new([&] { return PCSC_Get_devices(0, devices); }), -1);
    EXPECT_EQ(with_failing_new([] { return QUARLO_Open_device("Kit Plain 00 00"); }), -1);
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "";
    char address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    EXPECT_EQ(with_failing_new([&] { return PCSC_Visitors_Read(fake::kHandle, 0, identity, address, 0, 0); }), -1);
}

TEST_F(SelvaneExportGuard, BasicExportsAnswerTheirFailures) {
    char name[] = "Kit Plain 00 00";
    char* reference = name;
    EXPECT_EQ(with_failing_new([&] { return BASIC_PCSC_Open_device(&reference); }), -1);
    BSTR list = nullptr;
    EXPECT_EQ(with_failing_new([&] { return BASIC_QUARLO_Get_devices(0, &list); }), -1);
    EXPECT_EQ(list, nullptr);
}

TEST_F(SelvaneExportGuard, VindraNativeAnswersItsFailure) {
    kit::test::StringsOnlyEnv env;
    EXPECT_EQ(with_failing_new([&] {
                  return Java_com_velmora_vindra_Vindra_nopenDevice(env.get(), nullptr, env.text("Kit Plain 00 00"));
              }),
              -1);
}

// The JVM hands the native a copy of the SAM PIN: it is wiped before release.
TEST_F(SelvaneExportGuard, VindraPinCopyIsWipedBeforeItGoesBackToTheJvm) {
    kit::test::StringsOnlyEnv env(/*copies=*/true);
    // A wrong SAM PIN: the read fails, so no field is set on the missing object.
    EXPECT_NE(Java_com_velmora_vindra_Vindra_nsisReadPrivate(env.get(), nullptr, 0, 0, env.text("9999")), 1);
    ASSERT_EQ(kit::test::StringsOnlyEnv::released().size(), 1u);
    EXPECT_EQ(kit::test::StringsOnlyEnv::released()[0], std::string(4, '\0'));
}

}  // namespace
