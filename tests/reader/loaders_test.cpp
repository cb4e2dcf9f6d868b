// Loaders against the complete stand-ins (found beside libtarvik.so) and
// the handle check that needs no reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tarvik/reader/hcl.h"
#include "tarvik/reader/outside_libraries.h"
#include "tarvik/reader/pcsc_common.h"
#include "tarvik/reader/sync_omnikey.h"
#include "tests/rig/rig_support.h"

namespace {
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
}  // namespace

TEST(CompleteStandins, ScardsynBindsAllSixAndClearsThemOnRelease) {
    kit::rig::TraceCapture trace;
    {
        SyncOmnikey sync;
        ASSERT_EQ(sync.load_omnikey_dll(), 0);
        const auto& entry = scardsyn_entry_points();
        EXPECT_NE(entry.SCard3WBPPresentPIN, nullptr);
        EXPECT_NE(entry.SCard3WBPReadData, nullptr);
        EXPECT_NE(entry.SCard3WBPVerifyProtectBit, nullptr);
        unsigned char buffer[4] = {};
        EXPECT_EQ(entry.SCard3WBPReadData(0, 0, buffer, 0), 0);  // nothing asked, nothing sent
    }
    EXPECT_EQ(scardsyn_entry_points().SCard3WBPReadData, nullptr);
    EXPECT_TRUE(contains(trace.text(), "LoadLibrary(scardsyn.dll) OK !!!"));
}

TEST(CompleteStandins, PteidRecordsAtTheirOffsets) {
    ASSERT_EQ(load_mw_portugal_dll(), 0);
    const auto& entry = pteid_entry_points();
    ASSERT_NE(entry.PTEID_Exit, nullptr);
    EXPECT_EQ(entry.PTEID_Init("Kit Plain 00 00"), 0);
    static PTEID_ID identity;
    ASSERT_EQ(entry.PTEID_GetID(&identity), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(identity.bytes + pteid_layout::kName), "EXEMPLO");
    EXPECT_STREQ(reinterpret_cast<const char*>(identity.bytes + pteid_layout::kTaxNumber), "123456789");
    static PTEID_PIC picture;
    ASSERT_EQ(entry.PTEID_GetPic(&picture), 0);
    uint32_t length = 0;
    std::memcpy(&length, picture.bytes + pteid_layout::kPictureLength, sizeof length);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(picture.bytes[pteid_layout::kPictureBytes + 15], 15);
    EXPECT_EQ(entry.PTEID_Exit(0), 0);
}

TEST(CompleteStandins, KelpraListAndSpeLibraryByName) {
    ASSERT_EQ(load_kelpra0001_dll(), 0);
    char* xml = nullptr;
    ASSERT_EQ(kelpra_entry_points().getxmlsupportedspescreaders(&xml), 0);
    EXPECT_TRUE(contains(xml, "<reader>Kit PIN Pad</reader>"));

    kit::rig::TraceCapture trace;
    ASSERT_EQ(HCL_load_spe_reader_dll("libspetest.so"), 0);
    int out = 0;
    EXPECT_EQ(spe_entry_points().SCR_Init("Kit Plain 00 00", 1, &out), 0);
    const std::string text = trace.text();
    for (const char* line : {"ENTERING:", "Library loaded: libspetest.so", "Got address of function: SCR_Init",
                             "Got address of function: SCR_VerifyPIN", "Got address of function: SCR_ChangePIN",
                             "EXITING: "})
        EXPECT_TRUE(contains(text, line)) << line << "\n" << text;
}

TEST(CompleteStandins, FailedSpeLoadKeepsThePublishedLibrary) {
    kit::rig::TraceCapture trace;
    ASSERT_EQ(load_spe_reader_dll("libspetest.so"), 0);
    const auto init = spe_entry_points().SCR_Init;
    EXPECT_EQ(load_spe_reader_dll("libkit-absent.so"), -1);
    EXPECT_EQ(load_spe_reader_dll(nullptr), -1);
    EXPECT_EQ(HCL_load_spe_reader_dll("libkit-absent.so"), -1);
    EXPECT_EQ(spe_entry_points().SCR_Init, init);
    int out = 0;
    EXPECT_EQ(spe_entry_points().SCR_Init("x", 1, &out), 0);
    EXPECT_TRUE(contains(trace.text(), "ERROR in HCL_load_spe_reader_dll() while calling load_spe_reader_dll()"));
}

TEST(DeviceHandle, RefusedBeforeAnyOpen) {
    SCARDHANDLE card = 5;
    int powered = 7, absent = 7;
    unsigned char atr[64] = {};
    unsigned int atr_len = 0;
    uint16_t sw = 0;
    unsigned char apdu[5] = {0x00, 0xA4, 0x00, 0x00, 0x00};
    unsigned char response[8] = {};
    unsigned int response_len = 0;
    for (int handle : {HCL_DEVICE_HANDLE, 0, 1, -1, 32767}) {
        EXPECT_EQ(tarvik_resolve_device(handle), nullptr);
        EXPECT_EQ(HCL_get_card_handle(handle, &card), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_card_present(handle), 0);
        EXPECT_EQ(HCL_get_card_status(handle, &powered, &absent, atr, &atr_len), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_card_status(handle, atr, &atr_len, &sw), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_card_command_T0_T1(handle, apdu, 5, response, &response_len, &sw), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_card_Start_transaction(handle, 0), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_card_End_transaction(handle), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_sync_card_read(handle, response, 0, 4, 0), HCL_E_UNKNOWN_HANDLE);
    }
    EXPECT_EQ(card, 5u);
    EXPECT_EQ(powered, 7);
    EXPECT_GT(HCL_DEVICE_HANDLE, 1);
    EXPECT_LT(HCL_DEVICE_HANDLE, 32768);
}

TEST(ServiceProbe, AnswersThroughTheWrapper) {
    kit::rig::TraceCapture trace;
    int running = 5;
    EXPECT_EQ(HCL_service_running("kit-no-such-service", &running), 0);
    EXPECT_EQ(running, 0);
    EXPECT_EQ(HCL_service_running("x", nullptr), -1);
    EXPECT_TRUE(contains(trace.text(), "The service kit-no-such-service is not running"));
}
