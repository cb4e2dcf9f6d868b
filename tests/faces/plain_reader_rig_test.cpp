// Plain reader exports against pcscd and a virtual SLE4418 card: status,
// raw APDUs and the SIS read. Reader: "OMNIKEY Kit".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tarvik/engine/sis_decode.h"
#include "tarvik.h"
#include "tarvik/reader/hcl.h"
#include "tests/rig/rig_support.h"

namespace {

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

class PlainFaceWithSisCard : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string dir = kit::rig::scratch_dir() + "/pki";
        ASSERT_TRUE(kit::rig::make_test_pki(dir));
        card_ = std::make_unique<kit::rig::VirtualCard>(
            kit::rig::port_of(0),
            std::vector<std::string>{"--profile", "sle4418", "--memory", "@" + dir + "/sis_valid.bin"});
        ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
        handle_ = HCL_open_reader(reader().c_str());
        ASSERT_GT(handle_, 0);
    }
    std::unique_ptr<kit::rig::VirtualCard> card_;
    int handle_ = 0;
};

TEST_F(PlainFaceWithSisCard, StatusAndRawCommand) {
    int powered = -1, absent = -1;
    unsigned char atr[PLAIN_ATR_SIZE] = {};
    unsigned int atr_len = 0;
    ASSERT_EQ(getCardStatus(handle_, &powered, &absent, atr, &atr_len), 0);
    EXPECT_GT(atr_len, 0u);
    EXPECT_EQ(absent, 0);

    // The storage-card read of the first four memory bytes.
    unsigned char apdu[] = {0xFF, 0xB0, 0x00, 0x00, 0x04};
    unsigned char response[16] = {};
    unsigned int response_len = sizeof response;
    unsigned short sw = 0;
    ASSERT_EQ(cardCommand_T0_T1(handle_, apdu, sizeof apdu, response, &response_len, &sw), 0);
    EXPECT_EQ(sw, 0x9000);
    EXPECT_EQ(response_len, 4u);

    EXPECT_EQ(cardCommand_T0_T1(handle_, apdu, 4, response, &response_len, &sw), -1);
    EXPECT_EQ(cardCommand_T0_T1(handle_ + 1, apdu, sizeof apdu, response, &response_len, &sw), HCL_E_UNKNOWN_HANDLE);
}

// 0x00, 0x01, ... as hexadecimal, then the status word 9000.
std::string counting_answer(std::size_t count) {
    std::string hex;
    char two[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(i & 0xFF));
        hex += two;
    }
    return hex + "9000";
}

struct Answer {
    int result = 0;
    unsigned int length = 0;
    unsigned short sw = 0;
};

// Sends apdu with a response buffer of room bytes followed by a guard area.
Answer send_with_guard(int handle, std::vector<unsigned char> apdu, std::size_t room) {
    constexpr unsigned char kGuard = 0xEE;
    std::vector<unsigned char> response(room + 512, kGuard);
    Answer answer;
    answer.result = cardCommand_T0_T1(handle, apdu.data(), static_cast<int>(apdu.size()), response.data(),
                                      &answer.length, &answer.sw);
    for (std::size_t i = 0; i < room && i < answer.length; ++i) EXPECT_EQ(response[i], i & 0xFF) << i;
    for (std::size_t i = room; i < response.size(); ++i) {
        if (response[i] != kGuard) {
            ADD_FAILURE() << "byte " << i << " past the " << room << "-byte buffer written";
            break;
        }
    }
    return answer;
}

// A card that answers more than the APDU asks for: the host's buffer, sized
// by Le, gets the first Le bytes and nothing past it.
TEST(PlainFaceRawCommand, AnAnswerLongerThanLeStopsAtWhatTheApduAskedFor) {
    const std::string answer = counting_answer(300);
    kit::rig::VirtualCard card(kit::rig::port_of(0),
                               {"--profile", "sle4418", "--answer", "FFB0=" + answer, "--answer", "80CA=" + answer});
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
    const int handle = openDevice(reader().c_str());
    ASSERT_GT(handle, 0);

    struct Case {
        std::vector<unsigned char> apdu;
        unsigned int asked;
    };
    const Case cases[] = {
        {{0xFF, 0xB0, 0x00, 0x00, 0x10}, 16},                          // Le 16
        {{0xFF, 0xB0, 0x00, 0x00, 0x00}, 256},                         // Le 00
        {{0x80, 0xCA, 0x00, 0x00, 0x02, 0x01, 0x02, 0x08}, 8},         // data and Le
        {{0x80, 0xCA, 0x00, 0x00, 0x02, 0x01, 0x02}, 0},               // data, no Le
        {{0x80, 0xCA, 0x00, 0x00, 0x00, 0x00, 0x20}, 32},              // extended Le
        {{0x80, 0xCA, 0x00, 0x00, 0x03, 0x01, 0x02}, 0},               // of no form
    };
    for (const Case& c : cases) {
        const Answer got = send_with_guard(handle, c.apdu, c.asked);
        EXPECT_EQ(got.result, 0);
        EXPECT_EQ(got.sw, 0x9000);
        EXPECT_EQ(got.length, c.asked);
    }
}

TEST_F(PlainFaceWithSisCard, SisReadAppendsTextsAndRefusesWhatDoesNotFit) {
    char isdf[PLAIN_SIS_TEXT_SIZE] = "", pbdf[PLAIN_SIS_TEXT_SIZE] = "";
    ASSERT_EQ(readSisCard(handle_, SIS_OUTPUT_LINES, isdf, pbdf), SIS_OK);
    EXPECT_EQ(std::string(pbdf).rfind("PBDF_FIDN=0A0B\n", 0), 0u);
    EXPECT_NE(std::string(isdf).find("ISDF_CNME=MUT123\n"), std::string::npos);
    const std::string first_pbdf = pbdf;

    ASSERT_EQ(readSisCard(handle_, SIS_OUTPUT_XML, isdf, pbdf), SIS_OK);
    EXPECT_EQ(std::string(pbdf).rfind(first_pbdf + "<SIS_PBDF>\n", 0), 0u);

    // A buffer nearly full: nothing is appended and the read says why.
    std::memset(pbdf, 'p', sizeof pbdf - 10);
    pbdf[sizeof pbdf - 10] = '\0';
    isdf[0] = '\0';
    EXPECT_EQ(readSisCard(handle_, SIS_OUTPUT_LINES, isdf, pbdf), SIS_OUTPUT_TOO_SMALL);
    EXPECT_STREQ(isdf, "");

    char isdf_record[SIS_ISDF_RECORD_SIZE], pbdf_record[SIS_PBDF_RECORD_SIZE];
    EXPECT_EQ(readSisCard(handle_, SIS_OUTPUT_RECORDS, isdf_record, pbdf_record), SIS_OK);
}

}  // namespace
