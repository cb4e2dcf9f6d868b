// libselvane.so over the real libtarvik.so, against pcscd and virtual cards:
// readers "Kit Plain" (eID card), "OMNIKEY Kit" (SIS card) and "ETS BEID
// Pinpad Kit" (empty, or an eID card).
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "selvane.h"
#include "tarvik/reader/pcsc_common.h"
#include "test_auth_server.h"
#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;

// tarvik keeps its reader's PC/SC context and connection for the life of
// the process; loaded at run time, that memory can be left unreachable at
// exit once pcsc-lite's own list is gone. Only that allocation is excused
// (full stacks are needed to name it).
#define SANITIZER_HOOK extern "C" __attribute__((visibility("default"), used))
SANITIZER_HOOK const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
SANITIZER_HOOK const char* __lsan_default_suppressions() { return "leak:Pcsc_Common::openReader\n"; }

namespace {

std::string slot(std::size_t i) { return kit::rig::slot_name(kit::rig::reader_entries().at(i)); }

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SelvaneInRig : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = kit::rig::scratch_dir();
        pki_ = scratch_ + "/pki";
        ASSERT_TRUE(kit::rig::make_test_pki(pki_));
        app_data_ = scratch_ + "/appdata";
        fs::create_directories(app_data_);
        setenv("APPDATA", app_data_.c_str(), 1);
    }
    void insert_eid() {
        eid_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0),
                                                       std::vector<std::string>{"--profile", "eid", "--pki", pki_});
        ASSERT_TRUE(kit::rig::wait_for_card(slot(0), true));
    }
    std::string scratch_, pki_, app_data_;
    std::unique_ptr<kit::rig::VirtualCard> eid_, sis_;
};

}  // namespace

TEST_F(SelvaneInRig, ListOpenStatusAndEidReadWithAndWithoutPhoto) {
    insert_eid();
    char devices[SELVANE_DEVICES_SIZE];
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    // Two slots per reader entry, one per line, no line end after the last.
    const std::string names = std::string("\n") + devices + "\n";
    EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 7);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NE(names.find("\n" + slot(i) + "\n"), std::string::npos);
    ASSERT_EQ(QUARLO_Get_devices(1, devices), 0);
    EXPECT_NE(std::string(devices).find("<reader>" + slot(0) + "</reader>"), std::string::npos);

    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(file_bytes(fs::path(app_data_) / "sisreader.txt"), slot(0));

    int32_t powered = 0, removed = 1, atr_len = 0;
    unsigned char atr[SELVANE_ATR_SIZE] = {};
    ASSERT_EQ(PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len), 0);
    EXPECT_EQ(removed, 0);
    EXPECT_GT(atr_len, 0);
    EXPECT_EQ(atr[0], 0x3B);

    char identity[SELVANE_EID_ID_TEXT_SIZE], address[SELVANE_EID_ADDRESS_TEXT_SIZE];
    int32_t photo_len = -1;
    ASSERT_EQ(PCSC_EID_Read(0, 0, identity, address, nullptr, &photo_len), 0);
    EXPECT_NE(std::string(identity).find("\nNAME=Peeters\n"), std::string::npos);
    EXPECT_STREQ(address, "STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n");
    EXPECT_EQ(photo_len, 0);

    auto photo = std::make_unique<unsigned char[]>(SELVANE_PHOTO_SIZE);
    photo_len = 0;
    ASSERT_EQ(QUARLO_EID_Read(handle, 1, identity, address, photo.get(), &photo_len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(photo.get()), static_cast<std::size_t>(photo_len)),
              file_bytes(fs::path(pki_) / "photo.jpg"));
    EXPECT_EQ(std::string(address).rfind("<ID_ADDRESS>", 0), 0u);
}

TEST_F(SelvaneInRig, VisitorsReadGivesTheSameFilesByDirectCommands) {
    insert_eid();
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "", address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), 1);
    EXPECT_NE(std::string(identity).find("CARD_NUMBER=591234567890\n"), std::string::npos);
    EXPECT_NE(std::string(identity).find("NAME=Peeters\nFIRST_NAMES=Jan Pieter\n"), std::string::npos);
    EXPECT_NE(std::string(address).find("STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n"),
              std::string::npos);

    eid_->remove();
    ASSERT_TRUE(kit::rig::wait_for_card(slot(0), false));
    EXPECT_EQ(PCSC_Visitors_Read(0, 1, identity, address, 0, 0), SELVANE_VISITORS_NO_CARD);
}

TEST_F(SelvaneInRig, SisCardOnAnOmnikeyReader) {
    sis_ = std::make_unique<kit::rig::VirtualCard>(
        kit::rig::port_of(1), std::vector<std::string>{"--profile", "sle4418", "--memory", "@" + pki_ + "/sis_valid.bin"});
    ASSERT_TRUE(kit::rig::wait_for_card(slot(1), true));
    ASSERT_GT(QUARLO_Open_device(slot(1).c_str()), 0);
    char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_SIS_Read(0, 1, isdf, pbdf), 1);
    EXPECT_EQ(std::string(isdf).rfind("<SIS_ISDF>", 0), 0u);
    EXPECT_EQ(std::string(pbdf).rfind("<SIS_PBDF>", 0), 0u);
}

// The private read answers a failed public read as it is and never reaches
// the terminal library: no SFDF joins another card's texts, nor empty ones.
TEST_F(SelvaneInRig, PrivateSisReadAnswersItsPublicReadFailure) {
    const fs::path log = fs::path(scratch_) / "ctm.log";
    fs::remove(log);  // the scratch folder lives as long as the process
    setenv("KIT_CTM_LOG", log.c_str(), 1);
    insert_eid();
    sis_ = std::make_unique<kit::rig::VirtualCard>(
        kit::rig::port_of(1), std::vector<std::string>{"--profile", "sle4418", "--memory", "@" + pki_ + "/sis_valid.bin"});
    ASSERT_TRUE(kit::rig::wait_for_card(slot(1), true));
    const int32_t eid = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(eid, 0);

    for (const int32_t handle : {int32_t{-5}, int32_t{0x7ff0}, eid, int32_t{0}}) {
        SCOPED_TRACE(handle);
        char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "", sfdf[SELVANE_SFDF_TEXT_SIZE] = "";
        const int32_t public_result = PCSC_SIS_Read(handle, 0, isdf, pbdf);
        ASSERT_NE(public_result, 1);
        isdf[0] = pbdf[0] = '\0';
        EXPECT_EQ(PCSC_SIS_Read_Private(handle, 0, "1234", isdf, pbdf, sfdf), public_result);
        isdf[0] = pbdf[0] = '\0';
        EXPECT_EQ(QUARLO_SIS_Read_Private(handle, 1, "1234", isdf, pbdf, sfdf), public_result);
        EXPECT_STREQ(sfdf, "");
        BSTR texts[3] = {};
        EXPECT_EQ(BASIC_PCSC_SIS_Read_Private(handle, 0, "1234", &texts[0], &texts[1], &texts[2]), public_result);
        char pin[] = "1234";
        char* pin_ref = pin;
        EXPECT_EQ(BASIC_QUARLO_SIS_Read_Private2(handle, 0, &pin_ref, &texts[0], &texts[1], &texts[2]),
                  public_result);
        for (BSTR text : texts) {
            EXPECT_EQ(text, nullptr);
            SysFreeString(text);
        }
    }
    EXPECT_FALSE(fs::exists(log)) << file_bytes(log);

    // The SIS card with the SAM still reads.
    const int32_t sis = PCSC_Open_device(slot(1).c_str());
    ASSERT_GT(sis, 0);
    char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "", sfdf[SELVANE_SFDF_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_SIS_Read_Private(sis, 1, "1234", isdf, pbdf, sfdf), 1);
    EXPECT_EQ(std::string(isdf).rfind("<SIS_ISDF>", 0), 0u);
    EXPECT_EQ(std::string(pbdf).rfind("<SIS_PBDF>", 0), 0u);
    EXPECT_EQ(std::string(sfdf).rfind("<SIS_SFDF>", 0), 0u);
    EXPECT_EQ(file_bytes(log).rfind("CtmOpen\n", 0), 0u);
}

TEST_F(SelvaneInRig, PinpadCallsConnectDirectlyWhenNoCardIsHeld) {
    const fs::path record = fs::path(scratch_) / "pinpad.txt";
    fs::remove(record);  // the scratch folder lives as long as the process
    setenv("KIT_PINPAD_RECORD", record.c_str(), 1);
    ASSERT_GT(PCSC_Open_device(slot(2).c_str()), 0);
    EXPECT_EQ(PCSC_Display_Message(0, "PIN?", 1, 2), 0);
    EXPECT_EQ(PCSC_Beep(0, 5), 0);
    const std::string lines = file_bytes(record);
    EXPECT_EQ(lines.rfind("message card=", 0), 0u) << lines;
    EXPECT_EQ(lines.find("message card=0 "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" a=1 b=2 text=PIN?\nbeep card="), std::string::npos) << lines;

    // Not a pinpad: refused before anything is connected.
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    EXPECT_EQ(PCSC_Beep(0, 5), SELVANE_NOT_PINPAD);
}

TEST_F(SelvaneInRig, OnlineAuthenticationThroughTheTestServer) {
    insert_eid();
    testserver::TestAuthServer server;
    ASSERT_TRUE(server.start());
    constexpr uint8_t kTagTransaction = 4, kTagChallenge = 146;
    const std::string id = "20261208_201010_00112233AABBCCDD";
    server.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, id) +
                                             testserver::tllv_item(kTagChallenge, std::string(20, '\x5A')))});
    server.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, id))});

    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
    ASSERT_EQ(eidAuthenticateValidationKey(handle, server.url().c_str(), 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, "1234",
                                           transaction),
              0);
    EXPECT_EQ(std::string(transaction), id);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_TRUE(fs::exists(fs::path(app_data_) / "eidzundelog.txt"));

    // Handle 0 is not the current device here: nothing reaches the server.
    std::memset(transaction, 0, sizeof transaction);
    EXPECT_EQ(eidAuthenticateValidationKey(0, server.url().c_str(), 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, "1234",
                                           transaction),
              SELVANE_NO_DEVICE);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(SelvaneInRig, PinpadUsesTheConnectionTarvikHolds) {
    const fs::path record = fs::path(scratch_) / "pinpad.txt";
    fs::remove(record);  // the scratch folder lives as long as the process
    setenv("KIT_PINPAD_RECORD", record.c_str(), 1);
    eid_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(2),
                                                   std::vector<std::string>{"--profile", "eid", "--pki", pki_});
    ASSERT_TRUE(kit::rig::wait_for_card(slot(2), true));
    const int32_t handle = PCSC_Open_device(slot(2).c_str());
    ASSERT_GT(handle, 0);

    // The card handle of tarvik's reader object, as selvane sees it.
    void* tarvik = dlopen("libtarvik.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(tarvik, nullptr);
    const auto resolve = reinterpret_cast<tarvik_resolve_device_fn>(dlsym(tarvik, "tarvik_resolve_device"));
    ASSERT_NE(resolve, nullptr);
    const Pcsc_Common* reader = resolve(handle);
    ASSERT_NE(reader, nullptr);
    ASSERT_NE(reader->card, 0);
    const SCARDHANDLE held = reader->card;

    EXPECT_EQ(QUARLO_Display_Message(0, "OK", 0, 0), 0);
    EXPECT_EQ(file_bytes(record), "message card=" + std::to_string(held) + " a=0 b=0 text=OK\n");
    EXPECT_EQ(reader->card, held);
    // The connection still serves tarvik.
    int32_t powered = 0, removed = 1, atr_len = 0;
    unsigned char atr[SELVANE_ATR_SIZE] = {};
    EXPECT_EQ(PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len), 0);
    EXPECT_EQ(removed, 0);
    dlclose(tarvik);
}

// A reader name holding markup characters stays one well-formed element in
// the XML list and comes back as written in the lines.
TEST(MarkupInReaderName, ListEscapesTheNameAndLinesGiveItBack) {
    const std::string name = slot(0);
    ASSERT_EQ(name, "Kit & Co <R> 00 00");
    char devices[SELVANE_DEVICES_SIZE];
    ASSERT_EQ(PCSC_Get_devices(1, devices), 0);
    const std::string xml = devices;
    const std::string head = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices>";
    EXPECT_EQ(xml, head + "<reader>Kit &amp; Co &lt;R&gt; 00 00</reader>" +
                       "<reader>Kit &amp; Co &lt;R&gt; 00 01</reader></PCSC_Get_devices>");
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    EXPECT_STREQ(devices, "Kit & Co <R> 00 00\nKit & Co <R> 00 01");
}
