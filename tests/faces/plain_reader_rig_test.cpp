// Plain reader exports against pcscd and a virtual SLE4418 card: status,
// raw APDUs and the SIS read. Reader: "OMNIKEY Kit".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

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
