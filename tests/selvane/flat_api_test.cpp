#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "fake_tarvik_table.h"
#include "selvane.h"
#include "selvane/current_device.h"

namespace fs = std::filesystem;

namespace {

class FlatApi : public ::testing::Test {
protected:
    void SetUp() override {
        fake::install();
        selvane::set_current_device(0);
        std::string pattern = (fs::temp_directory_path() / "selvane-flat-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        appdata_ = pattern;
        setenv("APPDATA", appdata_.c_str(), 1);
    }
    void TearDown() override {
        selvane::tarvik_exports() = selvane::TarvikExports{};
        fs::remove_all(appdata_);
    }
    std::string reader_file() const {
        std::ifstream in(appdata_ / "sisreader.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path appdata_;
};

constexpr const char* kTwoReaders =
    "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices><reader>Kit Plain 00 00</reader>"
    "<reader>OMNIKEY Kit 00 00</reader></PCSC_Get_devices>";

}  // namespace

TEST_F(FlatApi, DeviceListInEachMode) {
    fake::state().reader_list = kTwoReaders;
    char devices[SELVANE_DEVICES_SIZE];
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    EXPECT_STREQ(devices, "Kit Plain 00 00\nOMNIKEY Kit 00 00");
    ASSERT_EQ(QUARLO_Get_devices(1, devices), 0);
    EXPECT_STREQ(devices, kTwoReaders);
    std::strcpy(devices, "stale");
    ASSERT_EQ(PCSC_Get_devices(5, devices), 0);
    EXPECT_STREQ(devices, "");

    fake::state().reader_list = "<?xml version=\"1.0\"?><PCSC_Get_devices></PCSC_Get_devices>";
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    EXPECT_STREQ(devices, "");
    // An element left open ends the list rather than running past it.
    fake::state().reader_list = "<PCSC_Get_devices><reader>A</reader><reader>B";
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    EXPECT_STREQ(devices, "A");
}

TEST_F(FlatApi, DeviceListFailureIsPassedOnWithTheListEmpty) {
    fake::state().reader_list = kTwoReaders;
    fake::state().list_result = 7;
    char devices[SELVANE_DEVICES_SIZE] = "stale";
    EXPECT_EQ(PCSC_Get_devices(1, devices), 7);
    EXPECT_STREQ(devices, "");
    EXPECT_EQ(PCSC_Get_devices(1, nullptr), SELVANE_NO_TARVIK);
}

TEST_F(FlatApi, SuccessfulOpenRemembersTheReaderAndBecomesCurrent) {
    ASSERT_EQ(PCSC_Open_device("Kit Plain 00 00"), fake::kHandle);
    EXPECT_EQ(reader_file(), "Kit Plain 00 00");
    EXPECT_EQ(selvane::current_device(), fake::kHandle);

    int32_t powered = 0, removed = 1, atr_len = 0;
    unsigned char atr[SELVANE_ATR_SIZE] = {};
    EXPECT_EQ(PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len), 0);
    EXPECT_EQ(QUARLO_SIS_Status(0, &powered, &removed, atr, &atr_len), 0);
    EXPECT_EQ(fake::state().handles, (std::vector<int>{fake::kHandle, fake::kHandle}));
    EXPECT_EQ(powered, 1);
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(atr_len, 1);
}

TEST_F(FlatApi, FailedOpenKeepsTheFileAndNoFailureCodeReachesTarvik) {
    ASSERT_EQ(QUARLO_Open_device("Kit Plain 00 00"), fake::kHandle);
    for (int failure : {-1, -2, 0}) {
        fake::state().open_result = failure;
        EXPECT_EQ(PCSC_Open_device("Other Reader"), failure);
        EXPECT_EQ(selvane::current_device(), failure);
        EXPECT_EQ(reader_file(), "Kit Plain 00 00");

        int32_t powered = 0, removed = 0, atr_len = 0;
        unsigned char atr[SELVANE_ATR_SIZE] = {};
        char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "";
        char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
        EXPECT_EQ(PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len), SELVANE_NO_DEVICE);
        EXPECT_EQ(PCSC_SIS_Status(failure, &powered, &removed, atr, &atr_len), SELVANE_NO_DEVICE);
        EXPECT_EQ(PCSC_SIS_Read(0, 1, isdf, pbdf), SELVANE_NO_DEVICE);
        EXPECT_EQ(PCSC_Visitors_Read(0, 1, isdf, pbdf, 0, 0), SELVANE_NO_DEVICE);
        EXPECT_EQ(eidAuthenticateValidationKey(failure, "http://127.0.0.1:1/", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "1234",
                                               transaction),
                  SELVANE_NO_DEVICE);
        // A handle tarvik never handed out is refused the same way.
        EXPECT_EQ(PCSC_Reader_Status(fake::kHandle + 1, &powered, &removed, atr, &atr_len), SELVANE_NO_DEVICE);
    }
    EXPECT_TRUE(fake::state().handles.empty());
}

TEST_F(FlatApi, UnwritableReaderFileDoesNotFailTheOpen) {
    fs::create_directory(appdata_ / "sisreader.txt");  // a folder where the file should go
    EXPECT_EQ(PCSC_Open_device("Kit Plain 00 00"), fake::kHandle);
    EXPECT_EQ(selvane::current_device(), fake::kHandle);
}

TEST_F(FlatApi, ReaderFileNeverFollowsALinkAtItsName) {
    const fs::path target = appdata_ / "target.txt";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, appdata_ / "sisreader.txt");
    EXPECT_EQ(PCSC_Open_device("Kit Plain 00 00"), fake::kHandle);
    EXPECT_TRUE(fs::is_symlink(appdata_ / "sisreader.txt"));
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

TEST_F(FlatApi, ReaderFileFallsBackToTheCurrentDirectory) {
    setenv("APPDATA", (appdata_ / "missing").c_str(), 1);
    const fs::path before = fs::current_path();
    fs::current_path(appdata_);
    EXPECT_EQ(PCSC_Open_device("OMNIKEY Kit 00 00"), fake::kHandle);
    fs::current_path(before);
    EXPECT_EQ(reader_file(), "OMNIKEY Kit 00 00");
}

TEST_F(FlatApi, EidReadChecksItsBuffersFirst) {
    char identity[64] = "x", address[64] = "x";
    unsigned char photo[16];
    int32_t photo_len = 0;
    EXPECT_EQ(PCSC_EID_Read(0, 0, identity, nullptr, photo, &photo_len), SELVANE_EID_NO_ADDRESS_BUFFER);
    EXPECT_EQ(PCSC_EID_Read(0, 0, nullptr, address, photo, &photo_len), SELVANE_EID_NO_ID_BUFFER);
    EXPECT_EQ(PCSC_EID_Read(0, 0, identity, address, nullptr, &photo_len), SELVANE_EID_NO_PHOTO_BUFFER);
    EXPECT_EQ(PCSC_EID_Read(0, 0, identity, address, photo, nullptr), SELVANE_EID_NO_PHOTO_BUFFER);
    EXPECT_STREQ(identity, "x");
    // Before any open: success with both texts empty, nothing called.
    EXPECT_EQ(QUARLO_EID_Read(0, 0, identity, address, photo, &photo_len), 0);
    EXPECT_STREQ(identity, "");
    EXPECT_STREQ(address, "");
    EXPECT_TRUE(fake::state().calls.empty());
}

TEST_F(FlatApi, EidReadAsksForThePhotoOnlyWhenALengthIsGiven) {
    ASSERT_EQ(PCSC_Open_device("Kit Plain 00 00"), fake::kHandle);
    char identity[256], address[256];
    int32_t photo_len = -1;
    ASSERT_EQ(PCSC_EID_Read(0, 1, identity, address, nullptr, &photo_len), 0);
    EXPECT_EQ(fake::state().read_args, (std::vector<int>{1, 1, 1, 0}));
    EXPECT_STREQ(identity, "NAME=Kit\n");

    unsigned char photo[SELVANE_PHOTO_SIZE];
    photo_len = 0;
    fake::state().read_result = 0;
    ASSERT_EQ(PCSC_EID_Read(fake::kHandle, 0, identity, address, photo, &photo_len), 0);
    EXPECT_EQ(fake::state().read_args, (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(photo_len, 3);
    EXPECT_EQ(photo[0], 0xFF);

    fake::state().read_result = 3018;
    EXPECT_EQ(PCSC_EID_Read(0, 0, identity, address, photo, &photo_len), 3018);
}

TEST_F(FlatApi, SisReadChecksBuffersThenForwards) {
    char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "";
    EXPECT_EQ(PCSC_SIS_Read(0, 0, nullptr, pbdf), SELVANE_SIS_NO_ISDF_BUFFER);
    EXPECT_EQ(QUARLO_SIS_Read(0, 0, isdf, nullptr), SELVANE_SIS_NO_PBDF_BUFFER);
    ASSERT_EQ(PCSC_Open_device("OMNIKEY Kit 00 00"), fake::kHandle);
    EXPECT_EQ(QUARLO_SIS_Read(0, 1, isdf, pbdf), 1);
    EXPECT_STREQ(isdf, "ISDF");
    EXPECT_STREQ(pbdf, "PBDF");
}

TEST_F(FlatApi, AuthenticationStartsOnlineThenForwardsEveryArgument) {
    char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
    ASSERT_EQ(QUARLO_eidAuthenticateValidationKey(fake::kHandle, "https://127.0.0.1:8443/auth", 1, 2, 3, 4, 5, 6, 7, 8,
                                                  9, 10, "1234", transaction),
              0);
    EXPECT_EQ(fake::state().calls, (std::vector<std::string>{"eidStartOnline", "eidAuthenticationOnline"}));
    EXPECT_EQ(fake::state().start_url, "https://127.0.0.1:8443/auth");
    EXPECT_EQ(fake::state().masks, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(fake::state().pin, "1234");
    EXPECT_STREQ(transaction, "0123456789abcdef0123456789abcdef");

    // Handle 0 is passed on unchanged, so it is refused even with a current device.
    ASSERT_EQ(PCSC_Open_device("Kit Plain 00 00"), fake::kHandle);
    EXPECT_EQ(eidAuthenticateValidationKey(0, "u", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "1234", transaction),
              SELVANE_NO_DEVICE);
}

TEST_F(FlatApi, EmptySlotsAnswerTheirFailureWithoutACall) {
    selvane::tarvik_exports() = selvane::TarvikExports{};
    char devices[SELVANE_DEVICES_SIZE];
    EXPECT_EQ(PCSC_Get_devices(0, devices), SELVANE_NO_TARVIK);
    EXPECT_EQ(PCSC_Open_device("Kit Plain 00 00"), 0);
    EXPECT_FALSE(fs::exists(appdata_ / "sisreader.txt"));
    // Without a resolver a positive handle is taken, but the missing slot answers.
    selvane::set_current_device(fake::kHandle);
    char identity[64], address[64];
    int32_t photo_len = -1;
    EXPECT_EQ(PCSC_EID_Read(0, 0, identity, address, nullptr, &photo_len), SELVANE_NO_TARVIK);
    char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
    EXPECT_EQ(eidAuthenticateValidationKey(fake::kHandle, "u", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "1234", transaction),
              SELVANE_NO_TARVIK);
}
