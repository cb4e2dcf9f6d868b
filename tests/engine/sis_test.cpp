#include "tarvik/engine/sis_card.h"
#include "tarvik/engine/sis_decode.h"

#include "engine_test_util.h"
#include "fake_hcl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kIsdf = 60;
constexpr std::size_t kPbdf = 104;

void put(Bytes& m, std::size_t at, const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), m.begin() + static_cast<long>(at)); }
void put(Bytes& m, std::size_t at, const std::string& s) { put(m, at, Bytes(s.begin(), s.end())); }

void seal(Bytes& m) {
    unsigned char x = 0;
    for (std::size_t i = 0; i < 99; ++i) x ^= m[kPbdf + i];
    m[kPbdf + 99] = x;
    x = 0;
    for (std::size_t i = 0; i < 43; ++i) x ^= m[kIsdf + i];
    m[kIsdf + 43] = x;
}

// The card the tests read unless they change it: every field set.
Bytes sample_memory() {
    Bytes m(1024, 0);
    put(m, kIsdf + 0, Bytes{0x01, 0x02});
    put(m, kIsdf + 2, Bytes{0x03});
    put(m, kIsdf + 3, Bytes{0x85, 0x07, 0x30, 0x12, 0x34, 0x56});
    put(m, kIsdf + 9, Bytes{0x20, 0x24, 0x01, 0x15});
    put(m, kIsdf + 13, std::string("MUT123"));
    put(m, kIsdf + 19, std::string("N"));
    put(m, kIsdf + 20, Bytes{0x00, 0x00, 0x30, 0x39});
    put(m, kIsdf + 24, Bytes{0x20, 0x20, 0x01, 0x01});
    put(m, kIsdf + 28, Bytes{0x99, 0x99, 0x99, 0x99});
    put(m, kIsdf + 32, Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    put(m, kIsdf + 39, Bytes{0xDE, 0xAD, 0xBE, 0xEF});
    put(m, kPbdf + 0, Bytes{0x0A, 0x0B});
    put(m, kPbdf + 2, Bytes{0x0C});
    put(m, kPbdf + 3, Bytes{0x85, 0x07, 0x30, 0x12, 0x34, 0xA0});
    put(m, kPbdf + 9, Bytes{0x20, 0x24, 0x01, 0x15});
    put(m, kPbdf + 13, std::string("PEETERS"));
    put(m, kPbdf + 61, std::string("JAN"));
    put(m, kPbdf + 85, std::string("P"));
    put(m, kPbdf + 86, std::string("M"));
    put(m, kPbdf + 87, Bytes{0x19, 0x85, 0x07, 0x30});
    put(m, kPbdf + 95, Bytes{0xCA, 0xFE, 0xBA, 0xBE});
    seal(m);
    return m;
}

std::string hex2(unsigned char b) {
    char t[3];
    std::snprintf(t, sizeof t, "%02X", b);
    return t;
}

class SisRead : public ::testing::Test {
protected:
    void SetUp() override {
        fake_sis_card() = FakeSisCard{};
        fake_sis_card().memory = sample_memory();
    }
    int read(int type) {
        return sisReadCard(1, type, isdf, sizeof isdf, pbdf, sizeof pbdf);
    }
    char isdf[SIS_TEXT_OUTPUT_MAX] = "";
    char pbdf[SIS_TEXT_OUTPUT_MAX] = "";
};

TEST_F(SisRead, LinesInTableOrder) {
    ASSERT_EQ(read(SIS_OUTPUT_LINES), SIS_OK);
    const Bytes& m = fake_sis_card().memory;
    EXPECT_EQ(std::string(pbdf),
              "PBDF_FIDN=0A0B\nPBDF_FSKI=0C\nPBDF_SSIN=8507301234A0\nPBDF_DCDT=20240115\nPBDF_NAME=PEETERS\n"
              "PBDF_SNME=JAN\nPBDF_INIT=P\nPBDF_SEXE=M\nPBDF_BRDT=19850730\nPBDF_FILLER=00000000\n"
              "PBDF_FCTF=CAFEBABE\nPBDF_FCSM=" + hex2(m[kPbdf + 99]) + "\n");
    EXPECT_EQ(std::string(isdf),
              "ISDF_FIDN=0102\nISDF_FSKI=03\nISDF_SSIN=850730123456\nISDF_DCDT=20240115\nISDF_CNME=MUT123\n"
              "ISDF_CLAN=N\nISDF_CLGN=00012345\nISDF_CBDT=20200101\nISDF_CEDT=99999999\nISDF_FILLER=\n"
              "ISDF_FCTF=DEADBEEF\nISDF_FCSM=" + hex2(m[kIsdf + 43]) + "\n");
    EXPECT_EQ(fake_sis_card().reads, 3);

    // Texts are appended: a second read gives every line twice.
    const std::string first(pbdf);
    ASSERT_EQ(read(SIS_OUTPUT_LINES), SIS_OK);
    EXPECT_EQ(std::string(pbdf), first + first);
}

TEST_F(SisRead, XmlEscapesTextValues) {
    put(fake_sis_card().memory, kPbdf + 13, std::string("D&<>"));
    seal(fake_sis_card().memory);
    ASSERT_EQ(read(SIS_OUTPUT_XML), SIS_OK);
    const std::string p(pbdf), i(isdf);
    EXPECT_EQ(p.rfind("<SIS_PBDF>\n<PBDF_FIDN>0A0B</PBDF_FIDN>\n<PBDF_FSKI>0C</PBDF_FSKI>\n", 0), 0u);
    EXPECT_NE(p.find("\n<PBDF_NAME>D&amp;&lt;&gt;ERS</PBDF_NAME>\n"), std::string::npos);
    EXPECT_EQ(p.substr(p.size() - 12), "</SIS_PBDF>\n");
    EXPECT_NE(i.find("\n<ISDF_FILLER></ISDF_FILLER>\n"), std::string::npos);
    EXPECT_EQ(i.substr(i.size() - 12), "</SIS_ISDF>\n");
}

TEST_F(SisRead, LineBreakInANameCannotAddALine) {
    put(fake_sis_card().memory, kPbdf + 61, std::string("JAN\nPBDF_SSIN=0\r"));
    seal(fake_sis_card().memory);
    ASSERT_EQ(read(SIS_OUTPUT_LINES), SIS_OK);
    const std::string p(pbdf);
    EXPECT_NE(p.find("\nPBDF_SNME=JAN PBDF_SSIN=0 \nPBDF_INIT=P\n"), std::string::npos) << p;
    EXPECT_EQ(p.find("\nPBDF_SSIN=0"), std::string::npos) << p;
}

TEST_F(SisRead, RecordsAtFixedOffsets) {
    char isdf_record[SIS_ISDF_RECORD_SIZE];
    char pbdf_record[SIS_PBDF_RECORD_SIZE];
    std::memset(isdf_record, 'Z', sizeof isdf_record);
    std::memset(pbdf_record, 'Z', sizeof pbdf_record);
    put(fake_sis_card().memory, kPbdf + 13, std::string(48, 'N'));
    seal(fake_sis_card().memory);
    ASSERT_EQ(sisReadCard(1, SIS_OUTPUT_RECORDS, isdf_record, sizeof isdf_record, pbdf_record, sizeof pbdf_record),
              SIS_OK);
    EXPECT_STREQ(pbdf_record + 0, "0C");
    EXPECT_STREQ(pbdf_record + 3, "8507301234A0");
    EXPECT_STREQ(pbdf_record + 25, std::string(48, 'N').c_str());
    EXPECT_EQ(pbdf_record[73], '\0');
    EXPECT_STREQ(pbdf_record + 74, "JAN");
    EXPECT_STREQ(pbdf_record + 101, "M");
    EXPECT_STREQ(pbdf_record + 112, "CAFEBABE");
    EXPECT_STREQ(pbdf_record + 121, "00000000");
    EXPECT_STREQ(pbdf_record + 133, "0A0B");
    EXPECT_STREQ(isdf_record + 25, "MUT123");
    EXPECT_STREQ(isdf_record + 61, "00012345");
    EXPECT_STREQ(isdf_record + 70, "0102");
    EXPECT_EQ(std::string(isdf_record + 78, 8), std::string(8, '\0'));
}

TEST_F(SisRead, WideClientNumberNeverSpillsIntoTheNextField) {
    put(fake_sis_card().memory, kIsdf + 20, Bytes{0xFF, 0xFF, 0xFF, 0xFF});
    seal(fake_sis_card().memory);
    char isdf_record[SIS_ISDF_RECORD_SIZE];
    char pbdf_record[SIS_PBDF_RECORD_SIZE];
    ASSERT_EQ(sisReadCard(1, SIS_OUTPUT_RECORDS, isdf_record, sizeof isdf_record, pbdf_record, sizeof pbdf_record),
              SIS_OK);
    EXPECT_STREQ(isdf_record + 70, "0102");
    EXPECT_EQ(isdf_record[69], '\0');
    ASSERT_EQ(read(SIS_OUTPUT_LINES), SIS_OK);
    EXPECT_NE(std::string(isdf).find("ISDF_CLGN=4294967295\n"), std::string::npos);
}

TEST_F(SisRead, CheckBytesAndZeroCard) {
    fake_sis_card().memory[kPbdf + 99] ^= 1;
    fake_sis_card().memory[kIsdf + 43] ^= 1;
    EXPECT_EQ(read(SIS_OUTPUT_LINES), SIS_PBDF_CHECK_FAILED);  // PBDF first
    fake_sis_card().memory[kPbdf + 99] ^= 1;
    EXPECT_EQ(read(SIS_OUTPUT_LINES), SIS_ISDF_CHECK_FAILED);
    EXPECT_STREQ(pbdf, "");
    EXPECT_STREQ(isdf, "");

    fake_sis_card().memory.assign(1024, 0);
    ASSERT_EQ(read(SIS_OUTPUT_LINES), SIS_OK);
    EXPECT_NE(std::string(isdf).find("ISDF_CLGN=00000000\n"), std::string::npos);
    EXPECT_NE(std::string(pbdf).find("PBDF_NAME=\n"), std::string::npos);
}

TEST_F(SisRead, CardAndReaderFailures) {
    fake_sis_card().status_result = -2;
    EXPECT_EQ(read(SIS_OUTPUT_LINES), SIS_NO_CARD);
    EXPECT_EQ(sisCheckCard(1), 3000);
    fake_sis_card().status_result = 0;
    fake_sis_card().status_word = 0x6A82;
    EXPECT_EQ(read(SIS_OUTPUT_LINES), SIS_NO_CARD);
    EXPECT_EQ(sisCheckCard(1), 3001);
    fake_sis_card().status_word = 0x9000;
    fake_sis_card().atr_first = 0xFF;
    EXPECT_EQ(sisCheckCard(1), 3002);
    fake_sis_card().atr_first = 0x3B;
    EXPECT_EQ(sisCheckCard(1), 0);
    fake_sis_card().read_result = 9999;
    EXPECT_EQ(read(SIS_OUTPUT_XML), SIS_READ_FAILED);
    EXPECT_EQ(fake_sis_card().reads, 1);  // the first failing read ends it
    EXPECT_STREQ(pbdf, "");
}

TEST_F(SisRead, OtherTypesWriteNothingAndSmallOutputsAreRefused) {
    std::strcpy(pbdf, "keep");
    EXPECT_EQ(read(3), SIS_OK);
    EXPECT_STREQ(pbdf, "keep");
    EXPECT_STREQ(isdf, "");

    char small[100] = "";
    EXPECT_EQ(sisReadCard(1, SIS_OUTPUT_LINES, isdf, sizeof isdf, small, sizeof small), SIS_OUTPUT_TOO_SMALL);
    EXPECT_STREQ(small, "");
    EXPECT_STREQ(isdf, "");  // neither output written
    char record[SIS_PBDF_RECORD_SIZE - 1];
    EXPECT_EQ(sisReadCard(1, SIS_OUTPUT_RECORDS, isdf, sizeof isdf, record, sizeof record), SIS_OUTPUT_TOO_SMALL);
    EXPECT_EQ(sisReadCard(1, SIS_OUTPUT_LINES, nullptr, 0, pbdf, sizeof pbdf), SIS_OUTPUT_TOO_SMALL);
}

TEST(SisDecode, MemoryImagesOfTheTestTool) {
    TempDir dir;
    ASSERT_EQ(std::system((std::string(TESTPKI_PATH) + " " + dir.path().string() + " --bits 1024").c_str()), 0);
    const Bytes valid = read_bytes(dir.path() / "sis_valid.bin");
    ASSERT_EQ(valid.size(), 1024u);
    auto areas = [](const Bytes& m) {
        return std::pair{std::span<const unsigned char, SIS_PBDF_SIZE>(m.data() + kPbdf, SIS_PBDF_SIZE),
                         std::span<const unsigned char, SIS_ISDF_SIZE>(m.data() + kIsdf, SIS_ISDF_SIZE)};
    };
    auto [p, i] = areas(valid);
    EXPECT_EQ(sis_check_bytes(p, i), SIS_OK);
    const SisDecoded decoded = sis_decode(p, i);
    EXPECT_EQ(decoded.pbdf[4], (std::pair<std::string, std::string>{"PBDF_NAME", "PEETERS"}));
    EXPECT_EQ(decoded.isdf[6], (std::pair<std::string, std::string>{"ISDF_CLGN", "00012345"}));

    const Bytes bad_pbdf = read_bytes(dir.path() / "sis_bad_pbdf.bin");
    auto [bp, bi] = areas(bad_pbdf);
    EXPECT_EQ(sis_check_bytes(bp, bi), SIS_PBDF_CHECK_FAILED);
    const Bytes bad_isdf = read_bytes(dir.path() / "sis_bad_isdf.bin");
    auto [ip, ii] = areas(bad_isdf);
    EXPECT_EQ(sis_check_bytes(ip, ii), SIS_ISDF_CHECK_FAILED);
    const Bytes zero = read_bytes(dir.path() / "sis_zero.bin");
    auto [zp, zi] = areas(zero);
    EXPECT_EQ(sis_check_bytes(zp, zi), SIS_OK);
}

}  // namespace
