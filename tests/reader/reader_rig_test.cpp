// The reader layer against pcscd and the virtual card, inside the rig.
// Readers: TwoReaders.* "Kit Plain|OMNIKEY Kit"; NoReaders.* none;
// Card.* "Kit Plain|OMNIKEY Kit|Cherry Kit|ACS Kit".
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tarvik/reader/hcl.h"
#include "tarvik/reader/outside_libraries.h"
#include "tarvik/reader/pcsc_common.h"
#include "tarvik/reader/spe_records.h"
#include "tests/fresh_process.h"
#include "tests/rig/rig_support.h"
#include "tools/vcard/profiles.h"

using kit::rig::VirtualCard;

namespace {

constexpr std::size_t kPlain = 0, kOmnikey = 1, kCherry = 2, kAcs = 3;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string reader(std::size_t index) { return kit::rig::slot_name(kit::rig::reader_entries().at(index)); }

// Starts a card in reader index and waits until pcscd has it.
std::unique_ptr<VirtualCard> insert_card(std::size_t index, std::vector<std::string> args = {}) {
    auto card = std::make_unique<VirtualCard>(kit::rig::port_of(index), std::move(args));
    EXPECT_TRUE(kit::rig::wait_for_card(reader(index), true)) << reader(index);
    return card;
}

struct Exchange {
    int result = 0;
    std::vector<unsigned char> data;
    uint16_t sw = 0;
};

// Also checks that the command buffer (exactly the APDU's size) is never written.
Exchange exchange(int handle, const std::vector<unsigned char>& command) {
    Exchange out;
    std::vector<unsigned char> apdu = command;
    unsigned char response[HCL_RESPONSE_MAX] = {};
    unsigned int length = 0;
    out.result = HCL_card_command_T0_T1(handle, apdu.data(), static_cast<int>(apdu.size()), response, &length, &out.sw);
    if (out.result == 0) out.data.assign(response, response + length);
    EXPECT_EQ(apdu, command);
    return out;
}

uint16_t select(int handle, unsigned char hi, unsigned char lo) {
    return exchange(handle, {0x00, 0xA4, 0x02, 0x0C, 0x02, hi, lo}).sw;
}

// A second, independent PC/SC connection to the same reader.
struct OtherConnection {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    explicit OtherConnection(const std::string& name) {
        DWORD protocol = 0;
        EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
        EXPECT_EQ(SCardConnect(context, name.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                               &card, &protocol),
                  SCARD_S_SUCCESS);
    }
    ~OtherConnection() {
        SCardDisconnect(card, SCARD_LEAVE_CARD);
        SCardReleaseContext(context);
    }
    // True when this connection could take the card's transaction within wait.
    bool can_begin_within(std::chrono::milliseconds wait) {
        auto begun = std::async(std::launch::async, [this] { return SCardBeginTransaction(card); });
        if (begun.wait_for(wait) != std::future_status::ready) {
            pending = std::move(begun);
            return false;
        }
        const bool ok = begun.get() == SCARD_S_SUCCESS;
        if (ok) SCardEndTransaction(card, SCARD_LEAVE_CARD);
        return ok;
    }
    std::future<LONG> pending;
};

}  // namespace

TEST(TwoReaders, ListInBothModesAppendedToTheText) {
    // pcscd chooses the order of its readers; the test does not.
    const std::vector<std::string> names{"Kit Plain 00 00", "Kit Plain 00 01", "OMNIKEY Kit 00 00",
                                         "OMNIKEY Kit 00 01"};
    Pcsc_Common reader_object;
    char text[Pcsc_Common::kReaderListMax] = "head:";
    ASSERT_EQ(reader_object.getReaders(1, text), 1);
    const std::string xml = text;
    const std::string head = "head:<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices>";
    EXPECT_EQ(xml.rfind(head, 0), 0u) << xml;
    EXPECT_TRUE(xml.ends_with("</reader></PCSC_Get_devices>")) << xml;
    std::size_t elements_length = 0;
    for (const auto& name : names) {
        EXPECT_TRUE(contains(xml, "<reader>" + name + "</reader>")) << xml;
        elements_length += name.size() + std::strlen("<reader></reader>");
    }
    EXPECT_EQ(xml.size(), head.size() + elements_length + std::strlen("</PCSC_Get_devices>"));

    char lines[Pcsc_Common::kReaderListMax] = "";
    ASSERT_EQ(reader_object.getReaders(0, lines), 1);
    std::size_t lines_length = 0;
    for (const auto& name : names) {
        EXPECT_TRUE(contains(lines, name + "\n")) << lines;
        lines_length += name.size() + 1;
    }
    EXPECT_EQ(std::strlen(lines), lines_length);

    char wrapper[HCL_READER_LIST_MAX] = "";
    EXPECT_EQ(HCL_get_readers(wrapper), 0);
    EXPECT_TRUE(contains(wrapper, "<reader>OMNIKEY Kit 00 01</reader>"));
}

TEST(TwoReaders, ListThatWouldNotFitIsNotAppended) {
    Pcsc_Common reader_object;
    std::vector<char> text(Pcsc_Common::kReaderListMax, 'x');
    text[Pcsc_Common::kReaderListMax - 200] = '\0';  // room for 199 more characters, the list needs more
    EXPECT_EQ(reader_object.getReaders(1, text.data()), static_cast<int>(SCARD_E_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::strlen(text.data()), Pcsc_Common::kReaderListMax - 200);
    text[0] = '\0';
    EXPECT_EQ(reader_object.getReaders(1, text.data()), 1);
}

TEST(NoReaders, ListGivesMinusOneAndOpenFails) {
    Pcsc_Common reader_object;
    char text[Pcsc_Common::kReaderListMax] = "keep";
    EXPECT_EQ(reader_object.getReaders(1, text), -1);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(HCL_get_readers(text), 0);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(HCL_open_reader("Kit Plain 00 00"), -1);
    EXPECT_EQ(tarvik_resolve_device(HCL_DEVICE_HANDLE), nullptr);
}

TEST(NoReaders, ServiceProbeSeesTheRigsPcscd) {
    kit::rig::TraceCapture trace;
    int running = 0;
    EXPECT_EQ(HCL_service_running("pcscd", &running), 0);
    EXPECT_EQ(running, 1);
    EXPECT_TRUE(contains(trace.text(), "The service pcscd is running"));
}

TEST(Card, OpenWithoutCardThenStatusSaysAbsent) {
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    ASSERT_EQ(handle, HCL_DEVICE_HANDLE);
    int powered = 5, absent = 5;
    unsigned char atr[HCL_ATR_MAX] = {};
    unsigned int atr_len = 0;
    EXPECT_EQ(HCL_get_card_status(handle, &powered, &absent, atr, &atr_len), 1);
    EXPECT_EQ(absent, 1);
    EXPECT_EQ(powered, 0);
    EXPECT_EQ(HCL_card_present(handle), 0);
    uint16_t sw = 0;
    EXPECT_EQ(HCL_card_status(handle, atr, &atr_len, &sw), -1);
}

TEST(Card, StatusOfAPoweredCardWithItsAtr) {
    auto card = insert_card(kPlain);
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    ASSERT_EQ(handle, HCL_DEVICE_HANDLE);
    Pcsc_Common* object = tarvik_resolve_device(handle);
    ASSERT_NE(object, nullptr);
    SCARDHANDLE card_handle = 0;
    EXPECT_EQ(HCL_get_card_handle(handle, &card_handle), 0);
    EXPECT_EQ(card_handle, object->card);
    EXPECT_NE(card_handle, 0u);

    int powered = 0, absent = 1;
    unsigned char atr[HCL_ATR_MAX] = {};
    unsigned int atr_len = 0;
    EXPECT_EQ(HCL_get_card_status(handle, &powered, &absent, atr, &atr_len), 0);
    EXPECT_EQ(powered, 1);
    EXPECT_EQ(absent, 0);
    const auto expected = vcard::make_profile("eid")->atr;
    ASSERT_EQ(atr_len, expected.size());
    EXPECT_EQ(std::vector<unsigned char>(atr, atr + atr_len), expected);
    EXPECT_EQ(atr[0], 0x3B);
    EXPECT_EQ(atr[1], 0x98);
    EXPECT_STREQ(object->reader_name, reader(kPlain).c_str());

    uint16_t sw = 0;
    EXPECT_EQ(HCL_card_status(handle, atr, &atr_len, &sw), 0);
    EXPECT_EQ(sw, 0x9000);
    EXPECT_EQ(HCL_card_present(handle), 1);
}

TEST(Card, RemovalGivesMinus99AndOneThenReinsertionResets) {
    auto card = insert_card(kPlain);
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    ASSERT_EQ(handle, HCL_DEVICE_HANDLE);
    EXPECT_EQ(select(handle, 0x3F, 0x00), 0x9000);

    card->remove();
    ASSERT_TRUE(kit::rig::wait_for_card(reader(kPlain), false));
    Pcsc_Common* object = tarvik_resolve_device(handle);
    unsigned int length = 0;
    int sw = 0;
    const unsigned char header[5] = {0x00, 0xA4, 0x02, 0x0C, 0x02};
    unsigned char data[Pcsc_Common::kApduBufferSize] = {0x3F, 0x00};
    EXPECT_EQ(object->transmit(header, 2, data, sizeof data, &length, &sw), -99);
    EXPECT_EQ(exchange(handle, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x3F, 0x00}).result, -1);
    EXPECT_EQ(HCL_card_Start_transaction(handle, 0), -99);
    int powered = 1, absent = 0;
    unsigned char atr[HCL_ATR_MAX] = {};
    unsigned int atr_len = 0;
    EXPECT_EQ(HCL_get_card_status(handle, &powered, &absent, atr, &atr_len), 1);
    EXPECT_EQ(absent, 1);
    EXPECT_EQ(powered, 0);

    const std::string before = card->log();
    card->insert();
    ASSERT_TRUE(kit::rig::wait_for_card(reader(kPlain), true));
    EXPECT_EQ(HCL_get_card_status(handle, &powered, &absent, atr, &atr_len), 0);
    EXPECT_EQ(absent, 0);
    EXPECT_EQ(powered, 1);
    const std::string after = card->log().substr(before.size());
    EXPECT_TRUE(contains(after, "RESET")) << after;  // the reconnect reset the card
    EXPECT_EQ(select(handle, 0x3F, 0x00), 0x9000);
}

TEST(Card, T0AndT1CardsExchange) {
    auto t0 = insert_card(kPlain);
    auto t1 = insert_card(kAcs, {"--profile", "eid-t1"});
    for (std::size_t index : {kPlain, kAcs}) {
        const int handle = HCL_open_reader(reader(index).c_str());
        ASSERT_EQ(handle, HCL_DEVICE_HANDLE);
        EXPECT_EQ(select(handle, 0xDF, 0x01), 0x9000);
        EXPECT_EQ(select(handle, 0x40, 0x33), 0x9000);
        const Exchange read = exchange(handle, {0x00, 0xB0, 0x00, 0x00, 0x78});
        EXPECT_EQ(read.result, 0);
        EXPECT_EQ(read.sw, 0x9000);
        EXPECT_EQ(read.data, vcard::default_file_content(0x4033, 120));
        const Exchange past = exchange(handle, {0x00, 0xB0, 0x00, 0x70, 0x80});
        EXPECT_EQ(past.sw, 0x6C08);
        EXPECT_TRUE(past.data.empty());
    }
    EXPECT_TRUE(contains(t1->log(), "APDU 00B0000078 -> "));
}

TEST(Card, FileNotFoundLeavesEveryBufferAlone) {
    auto card = insert_card(kPlain);
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    unsigned char apdu[] = {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x12, 0x34};
    unsigned char response[16];
    std::memset(response, 0xAA, sizeof response);
    unsigned int length = 99;
    uint16_t sw = 0;
    EXPECT_EQ(HCL_card_command_T0_T1(handle, apdu, sizeof apdu, response, &length, &sw), 0);
    EXPECT_EQ(sw, 0x6A82);
    EXPECT_EQ(length, 0u);
    for (unsigned char b : response) EXPECT_EQ(b, 0xAA);
    EXPECT_EQ(apdu[5], 0x12);  // the command buffer is never written

    Pcsc_Common* object = tarvik_resolve_device(handle);
    const unsigned char header[5] = {0x00, 0xA4, 0x02, 0x0C, 0x02};
    unsigned char data[Pcsc_Common::kApduBufferSize] = {0x12, 0x34};
    int status = 0;
    EXPECT_EQ(object->transmit(header, 2, data, sizeof data, &length, &status), 0x6A82);
    EXPECT_EQ(status, 0x6A82);
    EXPECT_EQ(data[0], 0x12);
}

TEST(Card, MalformedCommandsNeverReachTheCard) {
    auto card = insert_card(kPlain);
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    std::vector<unsigned char> big(5 + HCL_COMMAND_DATA_MAX + 1, 0);
    big[4] = 0xFF;
    unsigned char response[8];
    unsigned int length = 3;
    uint16_t sw = 7;
    EXPECT_EQ(HCL_card_command_T0_T1(handle, big.data(), static_cast<int>(big.size()), response, &length, &sw), -1);
    EXPECT_EQ(HCL_card_command_T0_T1(handle, big.data(), 4, response, &length, &sw), -1);
    EXPECT_EQ(HCL_card_command_T0_T1(handle, big.data(), -6, response, &length, &sw), -1);
    EXPECT_EQ(HCL_card_command_T0_T1(handle, nullptr, 5, response, &length, &sw), -1);
    Pcsc_Common* object = tarvik_resolve_device(handle);
    int status = 0;
    EXPECT_LT(object->transmit(big.data(), -1, big.data() + 5, 8, &length, &status), 4096);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(sw, 7);
    EXPECT_FALSE(contains(card->log(), "APDU "));

    // The largest command still goes out whole (a 5-byte header alone too).
    big[4] = 0xFB;
    const std::vector<unsigned char> max(big.begin(), big.begin() + 5 + HCL_COMMAND_DATA_MAX);
    EXPECT_EQ(exchange(handle, max).result, 0);
    EXPECT_EQ(exchange(handle, {0x00, 0xA4, 0x02, 0x0C}).result, -1);
    EXPECT_EQ(exchange(handle, {0x80, 0xCA, 0x00, 0x00, 0x00}).sw, 0x6E00);
    EXPECT_TRUE(contains(card->log(), "APDU 80CA000000 -> 6E00"));
}

TEST(Card, FaultsOnDemand) {
    auto card = insert_card(kPlain, {"--sw", "00A4020C02DF01=6982:1", "--cut", "00B0"});
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    EXPECT_EQ(select(handle, 0xDF, 0x01), 0x6982);
    EXPECT_EQ(select(handle, 0xDF, 0x01), 0x9000);
    EXPECT_EQ(select(handle, 0x40, 0x31), 0x9000);
    // The card goes away in the middle of the exchange: no status word.
    EXPECT_EQ(exchange(handle, {0x00, 0xB0, 0x00, 0x00, 0x10}).result, -1);
    EXPECT_TRUE(contains(card->log(), "CUT 00B0000010"));
}

TEST(Card, OwnTransactionPerExchangeUnlessOneIsHeld) {
    auto card = insert_card(kPlain);
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    OtherConnection other(reader(kPlain));

    EXPECT_EQ(select(handle, 0x3F, 0x00), 0x9000);
    EXPECT_TRUE(other.can_begin_within(std::chrono::milliseconds(2000)));  // ours was ended

    ASSERT_EQ(HCL_card_Start_transaction(handle, 10000), 0);
    EXPECT_EQ(tarvik_resolve_device(handle)->transaction_held, 1);
    EXPECT_EQ(select(handle, 0x3F, 0x00), 0x9000);
    EXPECT_FALSE(other.can_begin_within(std::chrono::milliseconds(500)));  // still ours after the exchange
    EXPECT_EQ(HCL_card_End_transaction(handle), 0);
    EXPECT_EQ(tarvik_resolve_device(handle)->transaction_held, 0);
    ASSERT_EQ(other.pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(other.pending.get(), SCARD_S_SUCCESS);
    SCardEndTransaction(other.card, SCARD_LEAVE_CARD);
}

TEST(Card, TransactionHeldElsewhereTimesOutWithTwo) {
    auto card = insert_card(kPlain);
    const int handle = HCL_open_reader(reader(kPlain).c_str());
    OtherConnection other(reader(kPlain));
    ASSERT_EQ(SCardBeginTransaction(other.card), SCARD_S_SUCCESS);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HCL_card_Start_transaction(handle, 10), 2);
    EXPECT_EQ(HCL_card_Start_transaction(handle, 1500), 2);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(4));
    EXPECT_EQ(tarvik_resolve_device(handle)->transaction_held, 0);
    // The attempts that gave up leave our context usable meanwhile (card
    // calls themselves wait for the holder under pcsc-lite).
    {
        const SCARDCONTEXT context = tarvik_resolve_device(handle)->context;
        const std::string name = reader(kPlain);
        auto polled = std::async(std::launch::async, [context, name] {
            SCARD_READERSTATE state{};
            state.szReader = name.c_str();
            state.dwCurrentState = SCARD_STATE_UNAWARE;
            return SCardGetStatusChange(context, 0, &state, 1);
        });
        ASSERT_EQ(polled.wait_for(std::chrono::seconds(2)), std::future_status::ready);
        EXPECT_EQ(polled.get(), SCARD_S_SUCCESS);
    }

    // Once the holder lets go, the card is free again: the abandoned
    // attempts did not keep it.
    EXPECT_EQ(SCardEndTransaction(other.card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(HCL_card_Start_transaction(handle, 5000), 0);
    EXPECT_EQ(HCL_card_End_transaction(handle), 0);
    EXPECT_TRUE(other.can_begin_within(std::chrono::milliseconds(3000)));
}

TEST(Card, ReaderKindsFromTheNamesResetOnEachOpen) {
    const std::pair<std::size_t, int> kinds[] = {{kOmnikey, 100}, {kPlain, 0}, {kAcs, 101}, {kCherry, 100}, {kPlain, 0}};
    for (const auto& [index, kind] : kinds) {
        ASSERT_EQ(HCL_open_reader(reader(index).c_str()), HCL_DEVICE_HANDLE);
        EXPECT_EQ(tarvik_resolve_device(HCL_DEVICE_HANDLE)->reader_kind, kind) << reader(index);
    }
}

TEST(Card, ReopenReleasesThePreviousConnectionAndFailedOpenItsContext) {
    auto card = insert_card(kPlain);
    ASSERT_EQ(HCL_open_reader(reader(kPlain).c_str()), HCL_DEVICE_HANDLE);
    Pcsc_Common* object = tarvik_resolve_device(HCL_DEVICE_HANDLE);
    const SCARDCONTEXT first_context = object->context;
    const SCARDHANDLE first_card = object->card;
    ASSERT_EQ(HCL_open_reader(reader(kPlain).c_str()), HCL_DEVICE_HANDLE);
    EXPECT_NE(SCardIsValidContext(first_context), SCARD_S_SUCCESS);
    DWORD state = 0, protocol = 0, atr_len = 64, name_len = 0;
    unsigned char atr[64];
    EXPECT_NE(SCardStatus(first_card, nullptr, &name_len, &state, &protocol, atr, &atr_len), SCARD_S_SUCCESS);
    EXPECT_EQ(select(HCL_DEVICE_HANDLE, 0x3F, 0x00), 0x9000);

    const SCARDCONTEXT second_context = object->context;
    EXPECT_EQ(HCL_open_reader("Kit Nowhere 00 00"), -1);
    EXPECT_NE(SCardIsValidContext(second_context), SCARD_S_SUCCESS);
    EXPECT_EQ(tarvik_resolve_device(HCL_DEVICE_HANDLE), nullptr);
    EXPECT_EQ(HCL_card_present(HCL_DEVICE_HANDLE), 0);
    EXPECT_EQ(HCL_open_reader(nullptr), -1);
}

TEST(Card, UnknownHandleRefusedWhileAReaderIsOpen) {
    auto card = insert_card(kPlain);
    ASSERT_EQ(HCL_open_reader(reader(kPlain).c_str()), HCL_DEVICE_HANDLE);
    unsigned char atr[HCL_ATR_MAX];
    unsigned int atr_len = 0;
    uint16_t sw = 0;
    for (int handle : {0, 1, -1, HCL_DEVICE_HANDLE + 1}) {
        EXPECT_EQ(tarvik_resolve_device(handle), nullptr);
        EXPECT_EQ(HCL_card_status(handle, atr, &atr_len, &sw), HCL_E_UNKNOWN_HANDLE);
        EXPECT_EQ(HCL_card_present(handle), 0);
    }
    EXPECT_EQ(HCL_card_status(HCL_DEVICE_HANDLE, atr, &atr_len, &sw), 0);
}

TEST(Card, Sle4418ReadsThroughOmnikeyOnlyWithAnEightBitLength) {
    // The library is loaded, and its load traced, once per process.
    kit::test::in_fresh_process([] {
        auto sync = insert_card(kOmnikey, {"--profile", "sle4418"});
        auto plain = insert_card(kPlain, {"--profile", "sle4418"});
        kit::rig::TraceCapture trace;

        ASSERT_EQ(HCL_open_reader(reader(kPlain).c_str()), HCL_DEVICE_HANDLE);
        unsigned char buffer[400];
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(HCL_sync_card_read(HCL_DEVICE_HANDLE, buffer, 16, 32, 0), HCL_SYNC_NOT_SUPPORTED);
        EXPECT_EQ(buffer[0], 0xEE);
        EXPECT_TRUE(contains(trace.text(), "ERR_SLE4418_NOT_SUPPORTED"));

        ASSERT_EQ(HCL_open_reader(reader(kOmnikey).c_str()), HCL_DEVICE_HANDLE);
        EXPECT_EQ(HCL_sync_card_read(HCL_DEVICE_HANDLE, buffer, 16, 300, 0), 0);
        for (std::size_t i = 0; i < 44; ++i) EXPECT_EQ(buffer[i], vcard::default_memory_byte(16 + i)) << i;
        EXPECT_EQ(buffer[44], 0xEE);
        EXPECT_TRUE(contains(sync->log(), "APDU FFB000102C -> "));
        EXPECT_NE(HCL_sync_card_read(HCL_DEVICE_HANDLE, buffer, 1020, 8, 0), 0);  // past the image
        EXPECT_EQ(tarvik_resolve_device(HCL_DEVICE_HANDLE)->readSyncCard(4442, 8, 0, buffer), 1);
        EXPECT_TRUE(contains(trace.text(), "LoadLibrary(scardsyn.dll) OK !!!")) << trace.text();
    });
}

TEST(Card, SpeStandinSendsVerifyWithTheRealPinLength) {
    auto card = insert_card(kPlain);
    ASSERT_EQ(HCL_open_reader(reader(kPlain).c_str()), HCL_DEVICE_HANDLE);
    ASSERT_EQ(HCL_load_spe_reader_dll("libspetest.so"), 0);
    SCARDHANDLE card_handle = 0;
    ASSERT_EQ(HCL_get_card_handle(HCL_DEVICE_HANDLE, &card_handle), 0);
    S_SPE_CARD spe_card{};
    S_SPE_APPLICATION application{};
    S_SPE_PIN_USAGE usage{};
    ASSERT_EQ(init_S_SPE_CARD(&spe_card, card_handle, "en", reinterpret_cast<const unsigned char*>("00000000"), 8, 0), 0);
    ASSERT_EQ(init_S_SPE_APPLICATION(&application, reinterpret_cast<const unsigned char*>("00000001"), 8, "CA",
                                     "eID Card Applet"),
              0);
    ASSERT_EQ(init_S_SPE_PIN_USAGE(&usage, 130, "AUTH", "Authentication"), 0);
    unsigned char result[1024] = {};
    setenv("KIT_SPE_PIN", "12345", 1);
    EXPECT_EQ(spe_entry_points().SCR_VerifyPIN(&spe_card, 1, &usage, &application, result), 0);
    unsetenv("KIT_SPE_PIN");
    EXPECT_EQ(spe_entry_points().SCR_VerifyPIN(&spe_card, 1, &usage, &application, result), 0x80100002L);
    free_S_SPE_CARD(&spe_card);
    free_S_SPE_APPLICATION(&application);
    free_S_SPE_PIN_USAGE(&usage);
    // The card's PIN is 1234: "12345" is a wrong PIN, answered 63C2.
    EXPECT_TRUE(contains(card->log(), "APDU 00200001082512345FFFFFFFFF -> 63C2")) << card->log();
    EXPECT_EQ(result[0], 0x63);
    EXPECT_EQ(result[1], 0xC2);
}
