// libselvane.so loaded from a folder of its own, beside a libtarvik.so that
// is missing, incomplete, or a fake (FAKE_TARVIK_DIR names the variant's
// folder; empty means none).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "selvane.h"

namespace fs = std::filesystem;

namespace {

struct Selvane {
    fs::path dir;
    void* handle = nullptr;
    template <typename Fn>
    Fn fn(const char* name) const {
        return reinterpret_cast<Fn>(dlsym(handle, name));
    }
};

Selvane load_selvane() {
    Selvane s;
    s.dir = fs::temp_directory_path() / ("selvane-binding-" + std::to_string(getpid()));
    fs::remove_all(s.dir);
    fs::create_directories(s.dir);
    // No pinpad library beside it: selvane loads that only for a pinpad call.
    for (const char* lib : {"libselvane.so", "liborvel.so"})
        fs::copy_file(fs::path(SELVANE_LIB_DIR) / lib, s.dir / lib);
    if (const std::string fake = std::getenv("FAKE_TARVIK_DIR"); !fake.empty())
        fs::copy_file(fs::path(fake) / "libtarvik.so", s.dir / "libtarvik.so");
    setenv("FAKE_TARVIK_CALLS", (s.dir / "calls.txt").c_str(), 1);
    s.handle = dlopen((s.dir / "libselvane.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    return s;
}

std::string calls(const Selvane& s) {
    std::ifstream in(s.dir / "calls.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        s_ = load_selvane();
        ASSERT_NE(s_.handle, nullptr) << dlerror();
        setenv("APPDATA", s_.dir.c_str(), 1);
    }
    void TearDown() override {
        if (s_.handle) dlclose(s_.handle);
        fs::remove_all(s_.dir);
    }
    Selvane s_;
};

using GetDevices = int32_t (*)(int32_t, char*);
using OpenDevice = int32_t (*)(const char*);
using ReaderStatus = int32_t (*)(int32_t, int32_t*, int32_t*, unsigned char*, int32_t*);
using EidRead = int32_t (*)(int32_t, int32_t, char*, char*, unsigned char*, int32_t*);
using SisRead = int32_t (*)(int32_t, int32_t, char*, char*);
using VisitorsRead = int32_t (*)(int32_t, int32_t, char*, char*, int32_t, int32_t);
using Beep = int32_t (*)(int32_t, int32_t);
using Authenticate = int32_t (*)(int32_t, const char*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, const char*, char*);

}  // namespace

// tarvik missing, or lacking one of the ten exports it must have: the
// library loads, and every export answers its failure without a call.
TEST_F(Binding, UnboundExportsAnswerTheirFailures) {
    char devices[SELVANE_DEVICES_SIZE];
    EXPECT_EQ(s_.fn<GetDevices>("PCSC_Get_devices")(0, devices), SELVANE_NO_TARVIK);
    EXPECT_EQ(s_.fn<OpenDevice>("QUARLO_Open_device")("Kit Reader"), 0);
    int32_t powered = 0, removed = 0, atr_len = 0;
    unsigned char atr[SELVANE_ATR_SIZE];
    EXPECT_EQ(s_.fn<ReaderStatus>("PCSC_Reader_Status")(0, &powered, &removed, atr, &atr_len), SELVANE_NO_DEVICE);
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "", address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    int32_t photo_len = -1;
    EXPECT_EQ(s_.fn<EidRead>("PCSC_EID_Read")(0, 0, identity, address, nullptr, &photo_len), 0);
    EXPECT_EQ(s_.fn<EidRead>("PCSC_EID_Read")(7, 0, identity, address, nullptr, &photo_len), SELVANE_NO_TARVIK);
    EXPECT_EQ(s_.fn<SisRead>("PCSC_SIS_Read")(7, 0, identity, address), SELVANE_NO_TARVIK);
    EXPECT_EQ(s_.fn<VisitorsRead>("PCSC_Visitors_Read")(7, 0, identity, address, 0, 0), SELVANE_NO_TARVIK);
    EXPECT_EQ(s_.fn<Beep>("PCSC_Beep")(7, 1), SELVANE_NO_DEVICE);  // no object to read the reader from
    char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
    EXPECT_EQ(s_.fn<Authenticate>("eidAuthenticateValidationKey")(7, "u", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "1234",
                                                                    transaction),
              SELVANE_NO_TARVIK);
    EXPECT_EQ(calls(s_), "");
    EXPECT_FALSE(fs::exists(s_.dir / "sisreader.txt"));
}

// A complete tarvik: the exports are bound by name and called with the
// handle it handed out.
TEST_F(Binding, BoundExportsReachTarvik) {
    char devices[SELVANE_DEVICES_SIZE];
    ASSERT_EQ(s_.fn<GetDevices>("PCSC_Get_devices")(0, devices), 0);
    EXPECT_STREQ(devices, "Kit Reader");
    ASSERT_EQ(s_.fn<OpenDevice>("PCSC_Open_device")("Kit Reader"), 7);
    char identity[SELVANE_EID_ID_TEXT_SIZE], address[SELVANE_EID_ADDRESS_TEXT_SIZE];
    int32_t photo_len = -1;
    ASSERT_EQ(s_.fn<EidRead>("PCSC_EID_Read")(0, 0, identity, address, nullptr, &photo_len), 0);
    EXPECT_STREQ(identity, "NAME=Fake\n");
    EXPECT_EQ(s_.fn<VisitorsRead>("PCSC_Visitors_Read")(0, 0, identity, address, 0, 0), 0x6A82);
    EXPECT_EQ(calls(s_), "getIccList\nopenDevice\nreadEidPubDataIdentify\ntarvik_with_card hold\ncardCommand_T0_T1\n");
    std::ifstream file(s_.dir / "sisreader.txt");
    std::string remembered;
    std::getline(file, remembered);
    EXPECT_EQ(remembered, "Kit Reader");
}

// The online pair may be missing alone: the rest works, authentication answers -1.
TEST_F(Binding, MissingOnlineExportsFailOnlyAuthentication) {
    ASSERT_EQ(s_.fn<OpenDevice>("PCSC_Open_device")("Kit Reader"), 7);
    char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
    EXPECT_EQ(s_.fn<Authenticate>("QUARLO_eidAuthenticateValidationKey")(7, "u", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "1234",
                                                                           transaction),
              SELVANE_NO_TARVIK);
    EXPECT_EQ(calls(s_), "openDevice\n");
}
