#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_tarvik_table.h"
#include "selvane.h"
#include "selvane/current_device.h"

namespace fs = std::filesystem;

namespace {

Pcsc_Common g_reader;

class Pinpad : public ::testing::Test {
protected:
    void SetUp() override {
        fake::install();
        fake::state().reader = &g_reader;
        selvane::set_current_device(0);
        std::string pattern = (fs::temp_directory_path() / "selvane-pinpad-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        setenv("APPDATA", dir_.c_str(), 1);  // where an open writes sisreader.txt
        record_ = dir_ / "pinpad.txt";
        setenv("KIT_PINPAD_RECORD", record_.c_str(), 1);
        unsetenv("KIT_PINPAD_RESULT");
        std::strcpy(g_reader.reader_name, "ETS BEID PINPAD Kit 00 00");
        g_reader.card = 0x4D2;
    }
    void TearDown() override {
        g_reader.card = 0;  // nothing for the object's destructor to release
        fs::remove_all(dir_);
    }
    std::string recorded() const {
        std::ifstream in(record_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path dir_, record_;
};

}  // namespace

TEST_F(Pinpad, HeldConnectionCarriesTheCallsInEitherCase) {
    setenv("KIT_PINPAD_RESULT", "0x6400", 1);
    ASSERT_EQ(PCSC_Open_device("ETS BEID PINPAD Kit 00 00"), fake::kHandle);
    EXPECT_EQ(PCSC_Display_Message(0, "Insert card", 3, 4), 0x6400);
    EXPECT_EQ(QUARLO_Beep(fake::kHandle, 2), 0x6400);
    std::strcpy(g_reader.reader_name, "ets beid pinpad");
    EXPECT_EQ(QUARLO_Display_Message(0, "ok", 0, 1), 0x6400);
    EXPECT_EQ(recorded(), "message card=1234 a=3 b=4 text=Insert card\nbeep card=1234 a=2\n"
                          "message card=1234 a=0 b=1 text=ok\n");
}

TEST_F(Pinpad, OtherReadersAndHandlesAreRefusedBeforeAnyCall) {
    EXPECT_EQ(PCSC_Beep(0, 1), SELVANE_NO_DEVICE);  // no current device
    EXPECT_EQ(PCSC_Beep(fake::kHandle + 1, 1), SELVANE_NO_DEVICE);
    EXPECT_EQ(PCSC_Beep(-1, 1), SELVANE_NO_DEVICE);
    std::strcpy(g_reader.reader_name, "ETS BEID PINPA");  // shorter than the prefix
    EXPECT_EQ(PCSC_Beep(fake::kHandle, 1), SELVANE_NOT_PINPAD);
    std::strcpy(g_reader.reader_name, "Kit Plain 00 00");
    g_reader.card = 0;  // would need a direct connection, were it a pinpad
    EXPECT_EQ(PCSC_Display_Message(fake::kHandle, "x", 0, 0), SELVANE_NOT_PINPAD);
    EXPECT_FALSE(fs::exists(record_));
}

TEST_F(Pinpad, FailedDirectConnectionIsReturnedAndTheLibraryNotCalled) {
    // No card held and a reader PC/SC does not know: with or without a
    // running pcscd the direct connection fails.
    std::strcpy(g_reader.reader_name, "ets beid pinpad that is nowhere");
    g_reader.card = 0;
    const int32_t result = PCSC_Beep(fake::kHandle, 1);
    EXPECT_LT(result, 0);
    EXPECT_NE(result, SELVANE_NO_DEVICE);
    EXPECT_NE(result, SELVANE_NOT_PINPAD);
    EXPECT_FALSE(fs::exists(record_));
}

// Run only beside a pinpad library that does not load or lacks a call
// (LD_LIBRARY_PATH, see CMakeLists.txt): selvane loaded without it, and
// each call on a pinpad reader answers the missing-library code, before any
// connection and without calling the half it found.
using PinpadWithoutLibrary = Pinpad;

TEST_F(PinpadWithoutLibrary, BothCallsAnswerTheirCode) {
    ASSERT_EQ(PCSC_Open_device("ETS BEID PINPAD Kit 00 00"), fake::kHandle);
    EXPECT_EQ(PCSC_Display_Message(0, "Insert card", 3, 4), SELVANE_NO_PINPAD_LIBRARY);
    EXPECT_EQ(QUARLO_Beep(fake::kHandle, 2), SELVANE_NO_PINPAD_LIBRARY);
    std::strcpy(g_reader.reader_name, "ets beid pinpad that is nowhere");
    g_reader.card = 0;
    EXPECT_EQ(PCSC_Beep(fake::kHandle, 1), SELVANE_NO_PINPAD_LIBRARY);
    EXPECT_FALSE(fs::exists(record_));
}
