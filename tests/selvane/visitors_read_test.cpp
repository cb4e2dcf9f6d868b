#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_tarvik_table.h"
#include "platform/sleep.h"
#include "selvane.h"
#include "selvane/current_device.h"
#include "selvane/visitors_read.h"

namespace {

// An eID file system answering SELECT and READ BINARY as the card does.
struct Card {
    std::map<std::string, std::string> files;  // file id bytes -> contents
    std::string selected;
    unsigned short past_end = 0x6B00;           // READ BINARY at or past the end
    bool always_full = false;                   // answer 9000 to every read
    std::map<std::string, unsigned short> refuse;  // file id -> SELECT status word
    std::vector<std::string> apdus;
    // Every exchange as "COMMAND SW" in hex, and every pause as "sleep MS".
    std::vector<std::string> calls;

    int answer(const std::string& apdu, std::string& response, unsigned short& sw) {
        apdus.push_back(apdu);
        const int result = answer_only(apdu, response, sw);
        std::string call;
        char digits[5];
        for (unsigned char b : apdu) {
            std::snprintf(digits, sizeof digits, "%02X", b);
            call += digits;
        }
        std::snprintf(digits, sizeof digits, "%04X", sw);
        calls.push_back(call + " " + digits);
        return result;
    }

    int answer_only(const std::string& apdu, std::string& response, unsigned short& sw) {
        const auto ins = static_cast<unsigned char>(apdu[1]);
        if (ins == 0xA4) {
            const std::string id = apdu.substr(5, 2);
            if (auto r = refuse.find(id); r != refuse.end()) {
                sw = r->second;
                return 0;
            }
            selected = id;
            sw = 0x9000;
            return 0;
        }
        const std::size_t offset = static_cast<unsigned char>(apdu[2]) * 256u + static_cast<unsigned char>(apdu[3]);
        const std::size_t le = static_cast<unsigned char>(apdu[4]);
        if (always_full) {
            response.assign(le, 'Z');
            sw = 0x9000;
            return 0;
        }
        const std::string& file = files[selected];
        if (offset >= file.size()) {
            sw = past_end;
        } else if (offset + le > file.size()) {
            sw = static_cast<unsigned short>(0x6C00 | (file.size() - offset));
        } else {
            response = file.substr(offset, le);
            sw = 0x9000;
        }
        return 0;
    }
};

std::string item(unsigned char tag, const std::string& value) {
    return std::string(1, static_cast<char>(tag)) + static_cast<char>(value.size()) + value;
}

const std::string kIdentityId{"\x40\x31", 2};
const std::string kAddressId{"\x40\x33", 2};

Card* g_card = nullptr;
void note_pause(int milliseconds) {
    if (g_card != nullptr) g_card->calls.push_back("sleep " + std::to_string(milliseconds));
}

class VisitorsRead : public ::testing::Test {
protected:
    void SetUp() override {
        g_card = &card_;
        kit::platform::set_sleep_observer(note_pause);
        fake::install();
        selvane::set_current_device(fake::kHandle);
        fake::state().card = [this](const std::string& a, std::string& r, unsigned short& sw) {
            return card_.answer(a, r, sw);
        };
        card_.files[kIdentityId] = item(0, "\x01") + item(1, "590123456789") + item(7, "Sp\xE9" "cimen") +
                                   item(8, "Alice & Bob") + item(13, "F") + item(17, std::string("\x0A\xFF", 2));
        card_.files[kAddressId] = item(0, std::string("\x00", 1)) + item(1, "Rue 1") + item(2, "1000") +
                                  item(3, "Bruxelles");
    }
    void TearDown() override {
        kit::platform::set_sleep_observer(nullptr);
        g_card = nullptr;
    }
    std::vector<std::string> reads_of(std::size_t first_apdu) const {
        std::vector<std::string> reads;
        for (std::size_t i = first_apdu; i < card_.apdus.size(); ++i)
            if (card_.apdus[i][1] == '\xB0') reads.push_back(card_.apdus[i]);
        return reads;
    }
    Card card_;
};

}  // namespace

TEST_F(VisitorsRead, RendersBothFilesAsXml) {
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "";
    char address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_Visitors_Read(0, 1, identity, address, 0, 0), 1);
    std::string expected =
        "<ID_RN><FILE_STRUCT-VERSION>01</FILE_STRUCT-VERSION><CARD_NUMBER>590123456789</CARD_NUMBER>"
        "<NAME>Sp\xE9" "cimen</NAME><FIRST_NAMES>Alice &amp; Bob</FIRST_NAMES><SEX>F</SEX>"
        "<HASH_PHOTO>0AFF</HASH_PHOTO>";
    for (int i = 6; i < 18; ++i) expected += "<FILE_STRUCT-VERSION></FILE_STRUCT-VERSION>";
    EXPECT_EQ(std::string(identity), expected + "</ID_RN>");
    EXPECT_STREQ(address,
                 "<ID_ADDRESS><FILE_STRUCT-VERSION>00</FILE_STRUCT-VERSION><STREET_AND_NUMBER>Rue 1"
                 "</STREET_AND_NUMBER><ZIPCODE>1000</ZIPCODE><MUNICIPALITY>Bruxelles</MUNICIPALITY></ID_ADDRESS>");
    // The selections, exactly: MF and DF01 by DF selection, then the file.
    ASSERT_GE(card_.apdus.size(), 3u);
    EXPECT_EQ(card_.apdus[0], std::string("\x00\xA4\x01\x00\x02\x3F\x00\x00", 8));
    EXPECT_EQ(card_.apdus[1], std::string("\x00\xA4\x01\x00\x02\xDF\x01\x00", 8));
    EXPECT_EQ(card_.apdus[2], std::string("\x00\xA4\x02\x00\x02\x40\x31\x00", 8));
}

TEST_F(VisitorsRead, LinesAreAppendedToWhatTheBuffersHold) {
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "pre:";
    char address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    card_.files[kIdentityId] = item(6, "85010100123") + item(99, "skipped") + item(2, std::string("\x00\x10", 2));
    ASSERT_EQ(PCSC_Visitors_Read(fake::kHandle, 0, identity, address, 0, 0), 1);
    // The walk of 18 items goes on into the zeroed rest: tag 0, no value.
    std::string expected = "pre:NATIONAL_NUMBER=85010100123\nCHIP_NUMBER=0010\n";
    for (int i = 0; i < 15; ++i) expected += "FILE_STRUCT-VERSION=\n";
    EXPECT_EQ(std::string(identity), expected);
    EXPECT_STREQ(address, "FILE_STRUCT-VERSION=00\nSTREET_AND_NUMBER=Rue 1\nZIPCODE=1000\nMUNICIPALITY=Bruxelles\n");
}

TEST_F(VisitorsRead, LineBreakInANameCannotAddALine) {
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "";
    char address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    card_.files[kIdentityId] = item(8, "Jan\nNATIONAL_NUMBER=1\r") + item(6, "85010100123");
    ASSERT_EQ(PCSC_Visitors_Read(fake::kHandle, 0, identity, address, 0, 0), 1);
    EXPECT_EQ(std::string(identity).rfind("FIRST_NAMES=Jan NATIONAL_NUMBER=1 \nNATIONAL_NUMBER=85010100123\n", 0), 0u)
        << identity;
}

TEST_F(VisitorsRead, OtherModeReadsBothFilesAndWritesNothing) {
    char identity[16] = "", address[16] = "";
    ASSERT_EQ(PCSC_Visitors_Read(0, 2, identity, address, 0, 0), 1);
    EXPECT_STREQ(identity, "");
    EXPECT_STREQ(address, "");
    EXPECT_EQ(card_.selected, kAddressId);
}

TEST_F(VisitorsRead, ChunkedReadFinishesOnWrongLengthAndOnOffsetBeyondTheFile) {
    std::string file;
    card_.selected = kIdentityId;
    card_.files[kIdentityId] = std::string(200, 'i');  // 80 + 80 + 6C28, re-read 40
    ASSERT_EQ(selvane::visitors::read_file(fake::kHandle, 80, file), 1);
    EXPECT_EQ(file, std::string(200, 'i'));
    const auto reads = reads_of(0);
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[2], std::string("\x00\xB0\x00\xA0\x50", 5));
    EXPECT_EQ(reads[3], std::string("\x00\xB0\x00\xA0\x28", 5));

    // An address shorter than one chunk: the first read answers 6C xx.
    card_.selected = kAddressId;
    card_.files[kAddressId] = std::string(37, 'a');
    ASSERT_EQ(selvane::visitors::read_file(fake::kHandle, 128, file), 1);
    EXPECT_EQ(file.size(), 37u);

    // A file ending on a chunk boundary: the next read answers 6A86.
    card_.past_end = 0x6A86;
    card_.files[kIdentityId] = std::string(160, 'b');
    card_.selected = kIdentityId;
    ASSERT_EQ(selvane::visitors::read_file(fake::kHandle, 80, file), 1);
    EXPECT_EQ(file, std::string(160, 'b'));

    // So does 6B00 (offset outside the file), but not for the first chunk.
    card_.past_end = 0x6B00;
    ASSERT_EQ(selvane::visitors::read_file(fake::kHandle, 80, file), 1);
    EXPECT_EQ(file, std::string(160, 'b'));
    card_.files[kIdentityId].clear();
    EXPECT_EQ(selvane::visitors::read_file(fake::kHandle, 80, file), 0x6B00);

    // Any other status word there is the read's failure.
    card_.files[kIdentityId] = std::string(160, 'b');
    card_.past_end = 0x6A82;
    EXPECT_EQ(selvane::visitors::read_file(fake::kHandle, 80, file), 0x6A82);
}

TEST_F(VisitorsRead, EveryReadBinaryIsFollowedByAPauseAndNoSelectIs) {
    card_.files[kIdentityId] = std::string(200, 'i');  // 80, 80, 6C28 and the repeat
    card_.files[kAddressId] = std::string(37, 'a');    // 6C25 and the repeat
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "";
    char address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_Visitors_Read(0, 2, identity, address, 0, 0), 1);
    const std::vector<std::string> expected{
        "00A40100023F0000 9000", "00A4010002DF0100 9000", "00A4020002403100 9000",
        "00B0000050 9000",       "sleep 20",              "00B0005050 9000",
        "sleep 20",              "00B000A050 6C28",       "sleep 20",
        "00B000A028 9000",       "sleep 20",              "00A4020002403300 9000",
        "00B0000080 6C25",       "sleep 20",              "00B0000025 9000",
        "sleep 20",
    };
    EXPECT_EQ(card_.calls, expected);
}

TEST_F(VisitorsRead, ReadStopsAtTheEndOfItsBuffer) {
    card_.always_full = true;
    std::string file;
    const std::size_t before = card_.apdus.size();
    ASSERT_EQ(selvane::visitors::read_file(fake::kHandle, 128, file), 1);
    EXPECT_EQ(file.size(), selvane::visitors::kReadBufferSize);
    EXPECT_EQ(reads_of(before).size(), selvane::visitors::kReadBufferSize / 128);
}

TEST_F(VisitorsRead, FailuresStopTheReadAndKeepWhatWasWritten) {
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "";
    char address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    card_.refuse[kAddressId] = 0x6A82;
    EXPECT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), 0x6A82);
    EXPECT_NE(std::string(identity).find("CARD_NUMBER=590123456789\n"), std::string::npos);
    EXPECT_STREQ(address, "");
    // The card was held over every exchange and let go on the way out.
    const auto& calls = fake::state().calls;
    ASSERT_EQ(std::count(calls.begin(), calls.end(), "card held"), 1);
    const auto held = std::find(calls.begin(), calls.end(), "card held");
    EXPECT_EQ(std::find(calls.begin(), held, "cardCommand_T0_T1"), held);
    EXPECT_EQ(calls.back(), "card let go");

    // The card not granted in time: that code, before any command.
    card_.apdus.clear();
    fake::state().calls.clear();
    fake::state().begin_result = 2;
    EXPECT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), 2);
    EXPECT_TRUE(card_.apdus.empty());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "card let go"), 0);
    fake::state().begin_result = 0;

    // A failed status call: its code, before any command; "no card" (1)
    // must not read as success.
    card_.apdus.clear();
    fake::state().status_result = 1;
    EXPECT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), SELVANE_VISITORS_NO_CARD);
    fake::state().status_result = -2146435060;
    EXPECT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), -2146435060);
    EXPECT_TRUE(card_.apdus.empty());

    // A failed exchange: tarvik's code.
    fake::state().status_result = 0;
    fake::state().card = [](const std::string&, std::string&, unsigned short&) { return -100; };
    EXPECT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), -100);
    EXPECT_EQ(PCSC_Visitors_Read(0, 0, nullptr, address, 0, 0), SELVANE_EID_NO_ID_BUFFER);
}

TEST_F(VisitorsRead, LargestRenderingsStayInsideTheDocumentedBuffers) {
    // Every item at its longest, every byte escaped: the texts fill but never pass their sizes.
    std::string identity_file, address_file;
    for (unsigned char tag = 0; tag < 18; ++tag) identity_file += item(tag, std::string(255, '&'));
    for (unsigned char tag = 0; tag < 4; ++tag) address_file += item(tag, std::string(255, '<'));
    card_.files[kIdentityId] = identity_file;
    card_.files[kAddressId] = address_file;
    auto identity = std::make_unique<char[]>(SELVANE_VISITORS_ID_TEXT_SIZE);
    auto address = std::make_unique<char[]>(SELVANE_VISITORS_ADDRESS_TEXT_SIZE);
    identity[0] = address[0] = '\0';
    ASSERT_EQ(PCSC_Visitors_Read(0, 1, identity.get(), address.get(), 0, 0), 1);
    EXPECT_EQ(std::string(identity.get()).substr(std::strlen(identity.get()) - 8), "</ID_RN>");
    EXPECT_EQ(std::string(address.get()).substr(std::strlen(address.get()) - 13), "</ID_ADDRESS>");

    // A buffer that already holds text gets only what fits.
    std::memset(address.get(), 'x', SELVANE_VISITORS_ADDRESS_TEXT_SIZE - 10);
    address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE - 10] = '\0';
    identity[0] = '\0';
    ASSERT_EQ(PCSC_Visitors_Read(0, 1, identity.get(), address.get(), 0, 0), 1);
    EXPECT_EQ(std::strlen(address.get()), SELVANE_VISITORS_ADDRESS_TEXT_SIZE - 1u);
}
