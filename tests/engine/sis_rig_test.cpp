// The SIS read end to end: the engine, the reader layer, pcscd and a virtual
// SLE4418 card holding the memory images of the test tool.
// Readers: "OMNIKEY Kit" (synchronous reads possible) and "Kit Plain".
#include "tarvik/engine/sis_card.h"

#include "engine_test_util.h"
#include "tarvik/reader/hcl.h"
#include "tests/rig/rig_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kOmnikey = 0, kPlain = 1;

std::string reader(std::size_t index) { return kit::rig::slot_name(kit::rig::reader_entries().at(index)); }

class SisCardInReader : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = kit::rig::scratch_dir() + "/pki";
        ASSERT_TRUE(kit::rig::make_test_pki(dir_));
    }
    // A card with the named image in reader index, opened.
    std::unique_ptr<kit::rig::VirtualCard> insert(std::size_t index, const std::string& image) {
        auto card = std::make_unique<kit::rig::VirtualCard>(
            kit::rig::port_of(index), std::vector<std::string>{"--profile", "sle4418", "--memory", "@" + dir_ + "/" + image});
        EXPECT_TRUE(kit::rig::wait_for_card(reader(index), true));
        EXPECT_EQ(HCL_open_reader(reader(index).c_str()), HCL_DEVICE_HANDLE);
        return card;
    }
    std::string dir_;
};

// What the tool puts on its valid card, written out by hand.
const char* kPbdfLines =
    "PBDF_FIDN=0A0B\nPBDF_FSKI=0C\nPBDF_SSIN=850730123456\nPBDF_DCDT=20240115\nPBDF_NAME=PEETERS\n"
    "PBDF_SNME=JAN\nPBDF_INIT=P\nPBDF_SEXE=M\nPBDF_BRDT=19850730\nPBDF_FILLER=00000000\nPBDF_FCTF=CAFEBABE\n"
    "PBDF_FCSM=5C\n";
const char* kIsdfLines =
    "ISDF_FIDN=0102\nISDF_FSKI=03\nISDF_SSIN=850730123456\nISDF_DCDT=20240115\nISDF_CNME=MUT123\nISDF_CLAN=N\n"
    "ISDF_CLGN=00012345\nISDF_CBDT=20200101\nISDF_CEDT=99999999\nISDF_FILLER=\nISDF_FCTF=DEADBEEF\nISDF_FCSM=CB\n";

TEST_F(SisCardInReader, AllOutputTypesThroughAnOmnikeyReader) {
    auto card = insert(kOmnikey, "sis_valid.bin");
    char isdf[SIS_TEXT_OUTPUT_MAX] = "", pbdf[SIS_TEXT_OUTPUT_MAX] = "";
    ASSERT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_LINES, isdf, sizeof isdf, pbdf, sizeof pbdf), SIS_OK);
    EXPECT_STREQ(pbdf, kPbdfLines);
    EXPECT_STREQ(isdf, kIsdfLines);

    isdf[0] = pbdf[0] = '\0';
    ASSERT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_XML, isdf, sizeof isdf, pbdf, sizeof pbdf), SIS_OK);
    EXPECT_EQ(std::string(pbdf).rfind("<SIS_PBDF>\n<PBDF_FIDN>0A0B</PBDF_FIDN>\n", 0), 0u);
    EXPECT_NE(std::string(pbdf).find("<PBDF_NAME>PEETERS</PBDF_NAME>\n<PBDF_SNME>JAN</PBDF_SNME>\n"), std::string::npos);
    EXPECT_NE(std::string(isdf).find("<ISDF_CLGN>00012345</ISDF_CLGN>\n"), std::string::npos);
    const std::string isdf_end = "<ISDF_FCSM>CB</ISDF_FCSM>\n</SIS_ISDF>\n";
    ASSERT_GE(std::strlen(isdf), isdf_end.size());
    EXPECT_EQ(std::string(isdf).substr(std::strlen(isdf) - isdf_end.size()), isdf_end);

    char isdf_record[SIS_ISDF_RECORD_SIZE], pbdf_record[SIS_PBDF_RECORD_SIZE];
    ASSERT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_RECORDS, isdf_record, sizeof isdf_record, pbdf_record,
                          sizeof pbdf_record),
              SIS_OK);
    EXPECT_STREQ(pbdf_record + 25, "PEETERS");
    EXPECT_STREQ(pbdf_record + 130, "5C");
    EXPECT_STREQ(isdf_record + 61, "00012345");
    EXPECT_STREQ(isdf_record + 75, "CB");
}

TEST_F(SisCardInReader, DamagedAndBlankCards) {
    {
        auto card = insert(kOmnikey, "sis_bad_pbdf.bin");
        char isdf[SIS_TEXT_OUTPUT_MAX] = "", pbdf[SIS_TEXT_OUTPUT_MAX] = "";
        EXPECT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_LINES, isdf, sizeof isdf, pbdf, sizeof pbdf),
                  SIS_PBDF_CHECK_FAILED);
        EXPECT_STREQ(pbdf, "");
    }
    ASSERT_TRUE(kit::rig::wait_for_card(reader(kOmnikey), false));
    {
        auto card = insert(kOmnikey, "sis_bad_isdf.bin");
        char isdf[SIS_TEXT_OUTPUT_MAX] = "", pbdf[SIS_TEXT_OUTPUT_MAX] = "";
        EXPECT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_XML, isdf, sizeof isdf, pbdf, sizeof pbdf),
                  SIS_ISDF_CHECK_FAILED);
    }
    ASSERT_TRUE(kit::rig::wait_for_card(reader(kOmnikey), false));
    {
        auto card = insert(kOmnikey, "sis_zero.bin");
        char isdf[SIS_TEXT_OUTPUT_MAX] = "", pbdf[SIS_TEXT_OUTPUT_MAX] = "";
        EXPECT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_LINES, isdf, sizeof isdf, pbdf, sizeof pbdf), SIS_OK);
        EXPECT_NE(std::string(isdf).find("ISDF_CLGN=00000000\n"), std::string::npos);
    }
}

TEST_F(SisCardInReader, ReaderWithoutSynchronousAccessFails) {
    auto card = insert(kPlain, "sis_valid.bin");
    char isdf[SIS_TEXT_OUTPUT_MAX] = "", pbdf[SIS_TEXT_OUTPUT_MAX] = "";
    EXPECT_EQ(sisReadCard(HCL_DEVICE_HANDLE, SIS_OUTPUT_LINES, isdf, sizeof isdf, pbdf, sizeof pbdf), SIS_READ_FAILED);
    EXPECT_STREQ(pbdf, "");
    EXPECT_STREQ(isdf, "");
}

}  // namespace
