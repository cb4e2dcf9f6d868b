#include <gtest/gtest.h>

#include "selvane/sfdf.h"
#include "sfdf_test_image.h"

using namespace selvane::sfdf;

namespace {

constexpr std::string_view kCertificate = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";  // 36 bytes, 32 kept

// File version 0A01, general data (flag 01, two dates), one period, a trailing 0xA5.
const std::string kOnePeriod =
    std::string("\x81\x04" "0A01", 6) +
    std::string("\xA2\x18" "\x80\x02" "01" "\x81\x08" "20100101" "\x82\x08" "20101231", 26) +
    std::string("\xA3\x32" "\x80\x03" "100" "\x81\x0D" "1234567890123" "\x82\x03" "110" "\x83\x03" "100"
                "\x84\x08" "20100101" "\x85\x08" "20101231", 52) +
    std::string("\xA5\x03" "\x80\x01" "Z", 5);

Record decode_image(std::string_view image, std::string_view today = "20100323") {
    return decode(bytes_of(image), bytes_of(kCertificate), today);
}

}  // namespace

TEST(SfdfDecode, OnePeriodImageAsLines) {
    const Record record = decode_image(kOnePeriod);
    EXPECT_EQ(record.selected_period, 1u);
    EXPECT_EQ(render(record, kTextMode),
              "SFDF_FLAG=1\n"
              "PERIOD_1_SFDF_INID=100\nPERIOD_1_SFDF_INUM=1234567890123\nPERIOD_1_SFDF_ICT1=110\n"
              "PERIOD_1_SFDF_ICT2=100\nPERIOD_1_SFDF_IBDT=20100101\nPERIOD_1_SFDF_IEDT=20101231\n"
              "PERIOD_2_SFDF_INID=\nPERIOD_2_SFDF_INUM=\nPERIOD_2_SFDF_ICT1=000\n"
              "PERIOD_2_SFDF_ICT2=000\nPERIOD_2_SFDF_IBDT=\nPERIOD_2_SFDF_IEDT=\n"
              "PERIOD_3_SFDF_INID=\nPERIOD_3_SFDF_INUM=\nPERIOD_3_SFDF_ICT1=000\n"
              "PERIOD_3_SFDF_ICT2=000\nPERIOD_3_SFDF_IBDT=\nPERIOD_3_SFDF_IEDT=\n"
              "SFDF_CERTIFICATE=0123456789ABCDEFGHIJKLMNOPQRSTUV\n"
              "SFDF_READ_DATE=20100323\nSFDF_PAY_REG=0\nSFDF_PER1=20100101\nSFDF_PER2=20101231\n"
              "SFDF_VER_ENSURANCE=10\nSFDF_FILE_VER=0A01\n");
    EXPECT_EQ(render(record, 2), "");
}

TEST(SfdfDecode, NoPeriodImageAsEscapedXml) {
    const std::string image = item(0x81, "<&>1") + item(0xA2, item(0x81, "a<b"));
    const std::string empty_rows =
        "<SFDF_INID></SFDF_INID>\n<SFDF_INUM></SFDF_INUM>\n<SFDF_ICT1></SFDF_ICT1>\n"
        "<SFDF_ICT2></SFDF_ICT2>\n<SFDF_IBDT></SFDF_IBDT>\n<SFDF_IEDT></SFDF_IEDT>\n";
    EXPECT_EQ(render(decode(bytes_of(image), bytes_of(std::string_view("C&\0D", 4)), "20100323"), kXmlMode),
              "<SIS_SFDF>\n<SFDF_FLAG>0</SFDF_FLAG>\n<SIS_SFDF_PERIODS>\n"
              "<SELECTED_PERIOD>0</SELECTED_PERIOD>\n"
              "<PERIOD_1>\n" + empty_rows + "</PERIOD_1>\n<PERIOD_2>\n" + empty_rows + "</PERIOD_2>\n"
              "<PERIOD_3>\n" + empty_rows + "</PERIOD_3>\n</SIS_SFDF_PERIODS>\n"
              "<SFDF_CERTIFICATE>C&amp;</SFDF_CERTIFICATE>\n<SFDF_READ_DATE>20100323</SFDF_READ_DATE>\n"
              "<SFDF_PAY_REG>X</SFDF_PAY_REG>\n<SFDF_PER1>a&lt;b</SFDF_PER1>\n<SFDF_PER2></SFDF_PER2>\n"
              "<SFDF_VER_ENSURANCE>00</SFDF_VER_ENSURANCE>\n<SFDF_FILE_VER>&lt;&amp;&gt;1</SFDF_FILE_VER>\n"
              "</SIS_SFDF>\n");
}

TEST(SfdfDecode, LineBreakInAValueCannotAddALine) {
    const std::string image = item(0xA2, item(0x81, "1\rX=2\nY"));
    const std::string text = render(decode_image(image), kTextMode);
    EXPECT_NE(text.find("\nSFDF_PER1=1 X=2 Y\nSFDF_PER2=\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nX=2"), std::string::npos) << text;
}

TEST(SfdfDecode, FlagAndInsuranceVersion) {
    const auto decoded = [](std::string_view flag, std::string_view version) {
        const Record r = decode_image(item(0x81, version) + item(0xA2, item(0x80, flag)));
        return std::string(r.value(kFlagRow)) + "/" + std::string(r.value(kVerEnsuranceRow));
    };
    EXPECT_EQ(decoded("01", "0A"), "1/10");
    EXPECT_EQ(decoded("5", "FF01"), "5/25");   // 255, two characters kept
    EXPECT_EQ(decoded("789", "3"), "7/03");
    EXPECT_EQ(decoded("", "ZZ"), "0/00");
    EXPECT_EQ(decode_image("").value(kFlagRow), "0");
}

TEST(SfdfDecode, ValuesStayInsideTheirFields) {
    const std::string period = item(0x80, "12345") + item(0x81, std::string(40, '7')) + item(0x82, "12") +
                               item(0x84, "2010010199") + item(0x85, "20101231");
    const Record record = decode_image(item(0xA3, period));
    EXPECT_EQ(record.value(period_row(1, PeriodField::Inid)), "123");
    EXPECT_EQ(record.value(period_row(1, PeriodField::Inum)), std::string(13, '7'));
    EXPECT_EQ(record.value(period_row(1, PeriodField::Ict1)), "12");  // replaces the "000" default
    EXPECT_EQ(record.value(period_row(1, PeriodField::Ict2)), "000");
    EXPECT_EQ(record.value(period_row(1, PeriodField::Ibdt)), "20100101");
    EXPECT_EQ(record.value(period_row(2, PeriodField::Inid)), "");
    EXPECT_EQ(record.selected_period, 1u);
}

TEST(SfdfDecode, MalformedItemsAreNotReadPastTheirBounds) {
    // Period 1 has no number: the file version after it must not be taken for it.
    const std::string period = item(0xA3, item(0x84, "20100101")) + item(0x81, "0A01");
    EXPECT_EQ(decode_image(period).value(period_row(1, PeriodField::Inum)), "");
    // An item claiming more bytes than remain is not used, nor anything after it.
    const std::string cut = item(0x81, "0A") + std::string("\xA2\x30\x80\x02" "01", 6);
    const Record record = decode_image(cut);
    EXPECT_EQ(record.value(kFileVerRow), "0A");
    EXPECT_EQ(record.value(kFlagRow), "0");
    EXPECT_EQ(decode_image(std::string("\xA3", 1)).selected_period, 0u);
}

TEST(SfdfDecode, LargestRenderingFitsTheSfdfBuffer) {
    Record record;
    for (std::size_t row = 0; row < kRowCount; ++row) {
        record.set(row, std::string(kWidestField + 5, '&'));
    }
    record.selected_period = 3;
    EXPECT_LT(render(record, kXmlMode).size(), kTextCapacity);
    EXPECT_LT(render(record, kTextMode).size(), kTextCapacity);
}
