// The BASIC face over a tarvik of the test's own and the card-terminal
// stand-in: only the low 16 bits of integers count, results are BSTRs that
// replace (and free) what the argument held, and the caller frees them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fake_tarvik_table.h"
#include "selvane.h"
#include "selvane/bstr.h"
#include "selvane/current_device.h"

namespace fs = std::filesystem;

namespace {

// A BSTR the test owns; freed with SysFreeString when it goes.
struct Owned {
    BSTR value = nullptr;
    explicit Owned(const char* text = nullptr) {
        if (text) value = SysAllocStringByteLen(text, static_cast<uint32_t>(std::strlen(text)));
    }
    ~Owned() { SysFreeString(value); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    std::string text() const { return value ? std::string(value, selvane::bstr::byte_length(value)) : "(null)"; }
};

// Upper half set: a host's 32-bit value whose low 16 bits are `low`.
int32_t with_high_bits(int32_t low) { return static_cast<int32_t>(0x5A5A0000u | (static_cast<uint32_t>(low) & 0xFFFF)); }

class BasicFace : public ::testing::Test {
protected:
    void SetUp() override {
        fake::install();
        selvane::set_current_device(0);
        unsetenv("KIT_CTM_FAULT");
        unsetenv("KIT_CTM_LOG");
        std::string pattern = (fs::temp_directory_path() / "selvane-basic-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        selvane::tarvik_exports() = selvane::TarvikExports{};
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST(Bstr, CarriesItsLengthTheBytesAndTwoZeroBytes) {
    const char bytes[] = {'a', '\0', 'b'};
    BSTR b = SysAllocStringByteLen(bytes, 3);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(3u, selvane::bstr::byte_length(b));
    EXPECT_EQ(0, std::memcmp(b, bytes, 3));
    EXPECT_EQ('\0', b[3]);
    EXPECT_EQ('\0', b[4]);
    SysFreeString(b);
    BSTR zeros = SysAllocStringByteLen(nullptr, 2);
    EXPECT_EQ(0, zeros[0] | zeros[1]);
    SysFreeString(zeros);
    SysFreeString(nullptr);
}

TEST_F(BasicFace, OnlyTheLowSixteenBitsOfHandleAndModeCount) {
    Owned isdf("old isdf"), pbdf;
    ASSERT_EQ(1, BASIC_PCSC_SIS_Read(with_high_bits(fake::kHandle), with_high_bits(1), &isdf.value, &pbdf.value));
    EXPECT_EQ("ISDF", isdf.text());
    EXPECT_EQ("PBDF", pbdf.text());
    ASSERT_EQ(1u, fake::state().handles.size());
    EXPECT_EQ(fake::kHandle, fake::state().handles[0]);

    // Low half 0: the current device; mode 0x10001 is XML.
    selvane::set_current_device(fake::kHandle);
    Owned identity, address;
    ASSERT_EQ(0, BASIC_PCSC_EID_Read(0x10000, 0x10001, &identity.value, &address.value, nullptr));
    EXPECT_EQ(fake::kHandle, fake::state().handles.back());
    EXPECT_EQ(1, fake::state().read_args.at(0));
    EXPECT_EQ(0, fake::state().read_args.at(3));  // no path pointer: no photo
    EXPECT_EQ("NAME=Kit\n", identity.text());
    EXPECT_EQ("ZIPCODE=1000\n", address.text());

    // A handle whose low half is unknown never reaches tarvik.
    const std::size_t calls = fake::state().calls.size();
    EXPECT_EQ(SELVANE_NO_DEVICE, BASIC_PCSC_SIS_Read(fake::kHandle + 0x10000 + 1, 0, &isdf.value, &pbdf.value));
    EXPECT_EQ(calls, fake::state().calls.size());
    EXPECT_EQ("ISDF", isdf.text());  // untouched on failure
}

TEST_F(BasicFace, EidReadWritesThePhotoOnlyWhenAPathIsGiven) {
    Owned identity("old"), address("old");
    char* no_path = nullptr;
    ASSERT_EQ(0, BASIC_PCSC_EID_Read(fake::kHandle, 0, &identity.value, &address.value, &no_path));
    EXPECT_EQ(0, fake::state().read_args.at(3));

    std::string photo = (dir_ / "photo.jpg").string();
    char* path = photo.data();
    ASSERT_EQ(0, BASIC_PCSC_EID_Read(fake::kHandle, 0, &identity.value, &address.value, &path));
    EXPECT_EQ(1, fake::state().read_args.at(3));
    std::ifstream file(photo, std::ios::binary);
    EXPECT_EQ("\xFF\xD8\xFF", std::string(std::istreambuf_iterator<char>(file), {}));

    std::string unwritable = (dir_ / "missing" / "photo.jpg").string();
    char* bad_path = unwritable.data();
    EXPECT_EQ(SELVANE_PHOTO_FILE_FAILED, BASIC_PCSC_EID_Read(fake::kHandle, 0, &identity.value, &address.value,
                                                             &bad_path));

    fake::state().read_result = 3000;
    Owned kept("kept");
    EXPECT_EQ(3000, BASIC_PCSC_EID_Read(fake::kHandle, 0, &kept.value, &address.value, nullptr));
    EXPECT_EQ("kept", kept.text());
}

TEST_F(BasicFace, PhotoFileNeverFollowsALinkAndAFailedWriteIsReported) {
    Owned identity("old"), address("old");
    const fs::path target = dir_ / "target.txt";
    std::ofstream(target) << "keep";
    std::string link = (dir_ / "photo.jpg").string();
    fs::create_symlink(target, link);
    char* path = link.data();
    EXPECT_EQ(SELVANE_PHOTO_FILE_FAILED, BASIC_PCSC_EID_Read(fake::kHandle, 0, &identity.value, &address.value, &path));
    EXPECT_TRUE(fs::is_symlink(link));
    std::ifstream kept(target);
    EXPECT_EQ("keep", std::string(std::istreambuf_iterator<char>(kept), {}));

    // Not a regular file: a device, or a FIFO that would block the host
    // (the alarm ends a test that hangs).
    std::string full = "/dev/full";
    char* full_path = full.data();
    EXPECT_EQ(SELVANE_PHOTO_FILE_FAILED,
              BASIC_PCSC_EID_Read(fake::kHandle, 0, &identity.value, &address.value, &full_path));
    EXPECT_TRUE(fs::is_character_file(full));
    std::string fifo = (dir_ / "fifo.jpg").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    char* fifo_path = fifo.data();
    ::alarm(10);
    EXPECT_EQ(SELVANE_PHOTO_FILE_FAILED,
              BASIC_PCSC_EID_Read(fake::kHandle, 0, &identity.value, &address.value, &fifo_path));
    ::alarm(0);
}

TEST_F(BasicFace, ReaderStatusTriesFiveTimesThenReportsNoCard) {
    fake::state().status_result = 1;
    int16_t powered = 7, removed = 7;
    Owned atr("old atr");
    EXPECT_EQ(1, BASIC_PCSC_Reader_Status(fake::kHandle, &powered, &removed, &atr.value));
    EXPECT_EQ(5, std::count(fake::state().calls.begin(), fake::state().calls.end(), "getCardStatus"));
    EXPECT_EQ(0, powered);
    EXPECT_EQ(1, removed);
    EXPECT_EQ("old atr", atr.text());

    fake::state() = fake::Tarvik{};
    EXPECT_EQ(0, BASIC_PCSC_Reader_Status(with_high_bits(fake::kHandle), &powered, &removed, &atr.value));
    EXPECT_EQ(1u, fake::state().calls.size());
    EXPECT_EQ(1, powered);
    EXPECT_EQ(0, removed);
    EXPECT_EQ("\x3B", atr.text());
}

TEST_F(BasicFace, DeviceListAndNiss) {
    fake::state().reader_list = "<PCSC_Get_devices><reader>A</reader><reader>B</reader></PCSC_Get_devices>";
    Owned list;
    ASSERT_EQ(0, BASIC_PCSC_Get_devices(with_high_bits(0), &list.value));
    EXPECT_EQ("A\nB", list.text());
    fake::state().list_result = 5;
    EXPECT_EQ(5, BASIC_QUARLO_Get_devices(0, &list.value));
    EXPECT_EQ("A\nB", list.text());

    Owned niss("old");
    EXPECT_EQ(0, BASIC_PCSC_SIS_Read_NISS(fake::kHandle, &niss.value));
    EXPECT_EQ("", niss.text());
}

TEST_F(BasicFace, PrivateReadFillsPbdfBeforeIsdfAndMapsAnEmptySamReply) {
    Owned pbdf, isdf, sfdf;
    ASSERT_EQ(1, BASIC_PCSC_SIS_Read_Private(fake::kHandle, with_high_bits(0), "1234", &pbdf.value, &isdf.value,
                                             &sfdf.value));
    EXPECT_EQ("PBDF", pbdf.text());
    EXPECT_EQ("ISDF", isdf.text());
    EXPECT_EQ(0u, sfdf.text().find("SFDF_FLAG=1\n")) << sfdf.text();

    setenv("KIT_CTM_FAULT", "no-sam", 1);
    std::string pin = "1234";
    char* pin_ref = pin.data();
    EXPECT_EQ(-1, BASIC_PCSC_SIS_Read_Private(fake::kHandle, 0, "1234", &pbdf.value, &isdf.value, &sfdf.value));
    EXPECT_EQ(SELVANE_SAM_NO_REPLY,
              BASIC_PCSC_SIS_Read_Private2(fake::kHandle, 0, &pin_ref, &pbdf.value, &isdf.value, &sfdf.value));
    EXPECT_EQ(SELVANE_SAM_NO_REPLY,
              BASIC_QUARLO_SIS_Read_Private2(fake::kHandle, 0, &pin_ref, &pbdf.value, &isdf.value, &sfdf.value));
    EXPECT_EQ(0u, sfdf.text().find("SFDF_FLAG=1\n"));  // untouched on failure
    unsetenv("KIT_CTM_FAULT");

    EXPECT_EQ(SELVANE_SAM_WRONG_PIN,
              BASIC_QUARLO_SIS_Read_Private(fake::kHandle, 0, "0000", &pbdf.value, &isdf.value, &sfdf.value));
}

// A pinpad reader object behind the fake's handle, for the message and beep.
Pcsc_Common pinpad_reader;

TEST_F(BasicFace, OpenMessageBeepAndPrivateReadByReferenceOnSuccess) {
    const char* app_data = std::getenv("APPDATA");
    const std::string saved_app_data = app_data ? app_data : "";
    setenv("APPDATA", dir_.c_str(), 1);  // where an open notes its reader
    std::string name = "ETS BEID PINPAD Kit 00 00";
    char* name_ref = name.data();
    EXPECT_EQ(fake::kHandle, BASIC_PCSC_Open_device(&name_ref));
    EXPECT_EQ(name, fake::state().opened);
    EXPECT_EQ(fake::kHandle, BASIC_QUARLO_Open_device(&name_ref));
    if (app_data) setenv("APPDATA", saved_app_data.c_str(), 1);
    else unsetenv("APPDATA");

    fake::state().reader = &pinpad_reader;
    std::strcpy(pinpad_reader.reader_name, name.c_str());
    pinpad_reader.card = 0x4D2;
    const fs::path record = dir_ / "pinpad.txt";
    setenv("KIT_PINPAD_RECORD", record.c_str(), 1);
    unsetenv("KIT_PINPAD_RESULT");
    std::string text = "Hello";
    char* text_ref = text.data();
    // Low halves only: handle 0 is the device just opened.
    EXPECT_EQ(0, BASIC_PCSC_Display_Message(0x10000, &text_ref, with_high_bits(3), with_high_bits(4)));
    EXPECT_EQ(0, BASIC_PCSC_Beep(with_high_bits(fake::kHandle), with_high_bits(2)));
    EXPECT_EQ(0, BASIC_QUARLO_Beep(fake::kHandle, 1));
    unsetenv("KIT_PINPAD_RECORD");
    pinpad_reader.card = 0;
    std::ifstream in(record);
    EXPECT_EQ("message card=1234 a=3 b=4 text=Hello\nbeep card=1234 a=2\nbeep card=1234 a=1\n",
              std::string(std::istreambuf_iterator<char>(in), {}));

    std::string pin = "1234";
    char* pin_ref = pin.data();
    Owned pbdf("old"), isdf("old"), sfdf("old");
    ASSERT_EQ(1, BASIC_PCSC_SIS_Read_Private2(with_high_bits(fake::kHandle), with_high_bits(0), &pin_ref, &pbdf.value,
                                              &isdf.value, &sfdf.value));
    EXPECT_EQ("PBDF", pbdf.text());
    EXPECT_EQ("ISDF", isdf.text());
    EXPECT_EQ(0u, sfdf.text().find("SFDF_FLAG=1\n")) << sfdf.text();
}

TEST_F(BasicFace, SisNissAndInitAnswerZeroAndTouchNothing) {
    char niss[16] = "old";
    EXPECT_EQ(0, QUARLO_SIS_Read_NISS(fake::kHandle, niss));
    EXPECT_EQ(0, PCSC_SIS_Read_NISS(fake::kHandle, niss));
    EXPECT_STREQ("old", niss);
    EXPECT_EQ(0, QUARLO_SIS_Init(fake::kHandle));
    EXPECT_EQ(0, PCSC_SIS_Init(fake::kHandle));
    EXPECT_TRUE(fake::state().calls.empty());
}

}  // namespace
