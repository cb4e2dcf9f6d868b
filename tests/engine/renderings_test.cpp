#include "tarvik/engine/renderings.h"

#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

void add_item(Bytes& file, unsigned char tag, const std::string& value) {
    file.push_back(tag);
    file.push_back(static_cast<unsigned char>(value.size()));
    file.insert(file.end(), value.begin(), value.end());
}

// Identity file with tags 1 to 17: text values "v<tag>", binary ones fixed.
Bytes identity_1_to_17() {
    Bytes f;
    for (unsigned char tag = 1; tag <= 17; ++tag) {
        if (tag == 2) add_item(f, tag, std::string("\x01\xAB\xFF", 3));
        else if (tag == 17) add_item(f, tag, std::string(20, '\x5A'));
        else add_item(f, tag, "v" + std::to_string(tag));
    }
    return f;
}

std::string render_id(const Bytes& file, int format) {
    Data d(file);
    char out[RENDER_ID_RN_MAX];
    std::strcpy(out, "old content");
    EXPECT_EQ(generateIdRnText(&d, format, out, sizeof out), 0);
    return out;
}

std::string render_address(const Bytes& file, int format) {
    Data d(file);
    char out[RENDER_ID_ADDRESS_MAX];
    std::strcpy(out, "old content");
    EXPECT_EQ(generateIdAddressText(&d, format, out, sizeof out), 0);
    return out;
}

TEST(IdentityRendering, LinesOfAWholeFile) {
    const std::string text = render_id(identity_1_to_17(), RENDER_LINES);
    EXPECT_EQ(text,
              "CARD_NUMBER=v1\nCHIP_NUMBER=01ABFF\nSTART_DATE=v3\nEND_DATE=v4\nDELIVERY_MUNICIPALITY=v5\n"
              "NATIONAL_NUMBER=v6\nNAME=v7\nFIRST_NAMES=v8\nINITIAL_3_NAME=v9\nNATIONALITY=v10\n"
              "BIRTH_LOCATION=v11\nBIRTH_DATE=v12\nSEX=v13\nNOBLE_CONDITION=v14\nDOC_TYPE=v15\n"
              "SPECIAL_STATUS=v16\nHASH_PHOTO=5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A\n");
}

TEST(IdentityRendering, XmlHasNoWhitespaceAndEscapesValues) {
    Bytes f;
    add_item(f, 7, "A&B <x>");
    add_item(f, 13, "M");
    add_item(f, 2, "");
    EXPECT_EQ(render_id(f, RENDER_XML),
              "<ID_RN><NAME>A&amp;B &lt;x&gt;</NAME><SEX>M</SEX><CHIP_NUMBER></CHIP_NUMBER></ID_RN>");
    // NAME=value lines keep the bytes as they are.
    EXPECT_EQ(render_id(f, RENDER_LINES), "NAME=A&B <x>\nSEX=M\nCHIP_NUMBER=\n");
}

TEST(IdentityRendering, TagZeroFirstUsesUpOneOfSeventeenReads) {
    Bytes f;
    add_item(f, 0, std::string("\x01", 1));
    const Bytes rest = identity_1_to_17();
    f.insert(f.end(), rest.begin(), rest.end());
    const std::string text = render_id(f, RENDER_LINES);
    EXPECT_EQ(text.rfind("FILE_STRUCT-VERSION=01\nCARD_NUMBER=v1\n", 0), 0u);
    EXPECT_NE(text.find("SPECIAL_STATUS=v16\n"), std::string::npos);
    EXPECT_EQ(text.find("HASH_PHOTO"), std::string::npos);
}

TEST(IdentityRendering, LineBreakInAValueCannotAddALine) {
    Bytes f;
    add_item(f, 8, "Jan\nNATIONAL_NUMBER=00000000000\rX");
    add_item(f, 6, "71715100070");
    EXPECT_EQ(render_id(f, RENDER_LINES), "FIRST_NAMES=Jan NATIONAL_NUMBER=00000000000 X\nNATIONAL_NUMBER=71715100070\n");
    // XML keeps the bytes: an element cannot be forged by them.
    EXPECT_EQ(render_id(f, RENDER_XML), "<ID_RN><FIRST_NAMES>Jan\nNATIONAL_NUMBER=00000000000\rX</FIRST_NAMES>"
                                        "<NATIONAL_NUMBER>71715100070</NATIONAL_NUMBER></ID_RN>");
}

TEST(IdentityRendering, UnknownTagsCountAndZeroBytesCutTextOnly) {
    Bytes f;
    add_item(f, 40, "ignored");
    add_item(f, 7, std::string("Jan\0Piet", 8));
    add_item(f, 2, std::string("\x00\x01", 2));
    for (int i = 0; i < 14; ++i) add_item(f, 40, "x");
    add_item(f, 13, "F");  // the 18th item: never read
    EXPECT_EQ(render_id(f, RENDER_LINES), "NAME=Jan\nCHIP_NUMBER=0001\n");
}

TEST(IdentityRendering, ReadsOnlyWithinTheFile) {
    Bytes f;
    add_item(f, 13, "M");
    f.push_back(7);
    f.push_back(200);  // claims 200 bytes, 3 remain
    f.insert(f.end(), {'a', 'b', 'c'});
    EXPECT_EQ(render_id(f, RENDER_LINES), "SEX=M\n");
    EXPECT_EQ(render_id(Bytes{13}, RENDER_XML), "<ID_RN></ID_RN>");

    S_EID_DATA empty;
    init_S_EID_DATA(&empty);
    char out[64] = "x";
    EXPECT_EQ(generateIdRnText(&empty, RENDER_XML, out, sizeof out), 0);
    EXPECT_STREQ(out, "<ID_RN></ID_RN>");
    EXPECT_EQ(generateIdRnText(nullptr, RENDER_LINES, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

TEST(IdentityRendering, OtherFormatsGiveTheEmptyText) {
    EXPECT_EQ(render_id(identity_1_to_17(), 2), "");
    EXPECT_EQ(render_id(identity_1_to_17(), -1), "");
}

TEST(IdentityRendering, OutputTooSmallIsRefusedWithoutOverrun) {
    Data d(identity_1_to_17());
    char out[40];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(generateIdRnText(&d, RENDER_LINES, out, 20), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[20], 'Z');
}

TEST(IdentityRendering, LargestFileFitsTheDocumentedSize) {
    Bytes f;
    for (unsigned char tag = 1; tag <= 17; ++tag) add_item(f, tag, std::string(255, '&'));
    Data d(f);
    std::string out(RENDER_ID_RN_MAX, '\0');
    EXPECT_EQ(generateIdRnText(&d, RENDER_XML, out.data(), out.size()), 0);
}

TEST(AddressRendering, ThreeItemsInBothFormats) {
    Bytes f;
    add_item(f, 1, "Kerkstraat 12");
    add_item(f, 2, "9000");
    add_item(f, 3, "Gent");
    f.insert(f.end(), 50, 0);  // the card pads the file with zero bytes
    EXPECT_EQ(render_address(f, RENDER_LINES), "STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n");
    EXPECT_EQ(render_address(f, RENDER_XML),
              "<ID_ADDRESS><STREET_AND_NUMBER>Kerkstraat 12</STREET_AND_NUMBER><ZIPCODE>9000</ZIPCODE>"
              "<MUNICIPALITY>Gent</MUNICIPALITY></ID_ADDRESS>");

    Bytes with_version;
    add_item(with_version, 0, std::string("\x02", 1));
    with_version.insert(with_version.end(), f.begin(), f.end());
    EXPECT_EQ(render_address(with_version, RENDER_LINES),
              "FILE_STRUCT-VERSION=02\nSTREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\n");
}

TEST(TransactionXml, WrapsAtMostThirtyTwoCharactersAndFailsOnEmpty) {
    char out[RENDER_TRANSACTION_XML_MAX];
    Data id(std::string("0123456789ABCDEF0123456789ABCDEFtail"));
    EXPECT_EQ(generateTransactionXml(&id, out, sizeof out), 0);
    EXPECT_STREQ(out, "<eid_card><id_transaction>0123456789ABCDEF0123456789ABCDEF</id_transaction></eid_card>");

    Data zero_inside(std::string("ab\0cd", 5));
    EXPECT_EQ(generateTransactionXml(&zero_inside, out, sizeof out), 0);
    EXPECT_STREQ(out, "<eid_card><id_transaction>ab</id_transaction></eid_card>");

    Data empty;
    std::strcpy(out, "old");
    EXPECT_EQ(generateTransactionXml(&empty, out, sizeof out), -1);
    EXPECT_STREQ(out, "");
    std::strcpy(out, "old");
    EXPECT_EQ(generateTransactionXml(nullptr, out, sizeof out), -1);
    EXPECT_STREQ(out, "");
}

TEST(HexToData, PairsHighNibbleFirstZeroFilled) {
    unsigned char out[4];
    std::memset(out, 0xEE, sizeof out);
    hexToData(out, "aB", 1);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xEE);  // exactly count bytes
    hexToData(out, "ABC", 2);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xC0);
    hexToData(out, "", 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0, 0, 0}));
    hexToData(out, "ABCD", 1);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(hexDigitValue('7'), 7);
    EXPECT_EQ(hexDigitValue('f'), 15);
    EXPECT_EQ(hexDigitValue('G'), 16);
}

}  // namespace
