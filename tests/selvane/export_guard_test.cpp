// Allocation failures under the exports of libselvane.so (flat, BASIC and
// Vindra faces): each answers its failure code and no exception reaches the
// host.
#include <gtest/gtest.h>

#include <jni.h>

#include "fake_tarvik_table.h"
#include "selvane.h"
#include "selvane/current_device.h"
#include "tests/engine/failing_new.h"

using kit::test::with_failing_new;

extern "C" JNIEXPORT jint JNICALL Java_com_velmora_vindra_Vindra_nopenDevice(JNIEnv* env, jobject, jstring reader);

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
    JNINativeInterface_ table{};
    table.GetStringUTFChars = [](JNIEnv*, jstring text, jboolean*) -> const char* {
        return reinterpret_cast<const char*>(text);
    };
    table.ReleaseStringUTFChars = [](JNIEnv*, jstring, const char*) {};
    JNIEnv env{};
    env.functions = &table;
    char name[] = "Kit Plain 00 00";
    EXPECT_EQ(with_failing_new([&] {
                  return Java_com_velmora_vindra_Vindra_nopenDevice(&env, nullptr, reinterpret_cast<jstring>(name));
              }),
              -1);
}

}  // namespace
