// PIN verification and card signing end to end: the engine, the reader
// layer, pcscd and the virtual eID card holding the test PKI's keys.
// Reader: "Kit Plain".
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine_test_util.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_pin.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/engine/eid_sign.h"
#include "tarvik/engine/eid_spe_readers.h"
#include "tarvik/reader/hcl.h"
#include "tests/rig/rig_support.h"
#include "trace_capture.h"

// HCL_get_card_handle as the engine sees it (linked with --wrap): the real
// one, unless a test makes it fail.
int card_handle_failure = 0;
extern "C" int __real__Z19HCL_get_card_handleiPl(int handle, SCARDHANDLE* card);
extern "C" int __wrap__Z19HCL_get_card_handleiPl(int handle, SCARDHANDLE* card) {
    return card_handle_failure != 0 ? card_handle_failure : __real__Z19HCL_get_card_handleiPl(handle, card);
}

namespace {

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string read_text(const std::string& path) {
    const Bytes bytes = read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class PinAndSign : public ::testing::Test {
protected:
    // A fresh PKI of `bits` and a card holding its two keys, opened.
    void start(int bits, std::vector<std::string> extra = {}) {
        pki_ = kit::rig::scratch_dir() + "/pki";
        ASSERT_TRUE(kit::rig::make_test_pki(pki_, bits));
        std::vector<std::string> args{"--key", "82=" + pki_ + "/auth.key.pem", "--key", "83=" + pki_ + "/sign.key.pem"};
        args.insert(args.end(), extra.begin(), extra.end());
        card_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0), args);
        ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
        ASSERT_EQ(eidOpenReader(reader().c_str()), HCL_DEVICE_HANDLE);
    }
    Bytes pki_file(const std::string& name) const { return read_bytes(pki_ + "/" + name); }
    // The APDUs the card saw, as logged.
    std::string card_log() const { return card_->log(); }

    std::string pki_;
    std::unique_ptr<kit::rig::VirtualCard> card_;
};

constexpr int kHandle = HCL_DEVICE_HANDLE;

TEST_F(PinAndSign, BothKeysSignWhatTheirPinUnlocked) {
    start(1024);
    ASSERT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
    Data challenge(pki_file("challenge.bin")), signature;
    ASSERT_EQ(eidSignChallenge(kHandle, &challenge, &signature), 0);
    EXPECT_EQ(signature.bytes(), pki_file("challenge.sig"));
    EXPECT_EQ(signature.d.dta[signature.d.dta_len], 0);  // one zero byte after the content

    ASSERT_EQ(eidPresentPinSign(kHandle, "1234"), 0);
    Data hash(pki_file("hash.bin"));
    ASSERT_EQ(eidSignChallenge(kHandle, &hash, &signature), 0);
    EXPECT_EQ(signature.bytes(), pki_file("hash.sig"));
    // MSE SET, VERIFY with the format-2 block of "1234", PSO, GET RESPONSE 80.
    const std::string log = card_log();
    EXPECT_TRUE(contains(log, "APDU 002241B6050480018482 -> 9000"));
    EXPECT_TRUE(contains(log, "APDU 0020000108241234FFFFFFFFFF -> 9000"));
    EXPECT_TRUE(contains(log, "APDU 00C0000080 -> "));
}

TEST_F(PinAndSign, TwoThousandBitKeyGivesAFullResponse) {
    start(2048, {"--pin", "12345678"});
    ASSERT_EQ(eidPresentPinAuthen(kHandle, "12345678"), 0);
    Data challenge(pki_file("challenge.bin")), signature;
    ASSERT_EQ(eidSignChallenge(kHandle, &challenge, &signature), 0);
    EXPECT_EQ(signature.d.dta_len, 256u);
    EXPECT_EQ(signature.bytes(), pki_file("challenge.sig"));
    EXPECT_TRUE(contains(card_log(), "APDU 00C0000000 -> "));
    EXPECT_TRUE(contains(card_log(), "APDU 00200001082812345678FFFFFF -> 9000"));
}

TEST_F(PinAndSign, WrongPinCountsDownThenBlocks) {
    start(1024);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1111"), 3011);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1111"), 3012);
    EXPECT_EQ(eidPresentPinSign(kHandle, "1111"), 3013);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 3015);
    // Without a verified PIN the card refuses to sign; the record is kept.
    Data challenge(pki_file("challenge.bin")), signature(std::string("old"));
    EXPECT_EQ(eidSignChallenge(kHandle, &challenge, &signature), EID_SIGN_REFUSED);
    EXPECT_EQ(signature.bytes(), Bytes({'o', 'l', 'd'}));
}

TEST_F(PinAndSign, RefusedPinsAndInputsNeverReachTheCard) {
    start(1024);
    for (const char* pin : {static_cast<const char*>(nullptr), "", "123", "1234567890123", "12a4", "12 34"})
        EXPECT_EQ(eidPresentPinAuthen(kHandle, pin), EID_PIN_FORMAT_REFUSED) << (pin ? pin : "null");
    EXPECT_EQ(eidPresentPinSign(kHandle, nullptr), EID_PIN_FORMAT_REFUSED);
    Data empty, too_long(Bytes(EID_SIGN_INPUT_MAX + 1, 0x11)), signature;
    EXPECT_EQ(eidSignChallenge(kHandle, &empty, &signature), EID_SIGN_REFUSED);
    EXPECT_EQ(eidSignChallenge(kHandle, &too_long, &signature), EID_SIGN_REFUSED);
    EXPECT_EQ(card_log().find("APDU 00"), std::string::npos) << card_log();
    // The tries are all still there.
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
}

TEST_F(PinAndSign, RefusedKeySelectionStopsBeforeVerify) {
    start(1024, {"--sw", "002241B6=6A88"});
    TraceCapture trace;
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), EID_PIN_EXCHANGE_FAILED);
    EXPECT_TRUE(contains(trace.take(), "ERROR in eidPresentPinAuthen(), card status = 0x6A88"));
    EXPECT_EQ(eidPresentPinSign(kHandle, "1234"), EID_PIN_EXCHANGE_FAILED);
    EXPECT_TRUE(contains(trace.take(), "ERROR in eidPresentPinSign(), card status = 0x6A88"));
    EXPECT_FALSE(contains(card_log(), "APDU 00200001"));
}

TEST_F(PinAndSign, SigningAnsweredWithoutWaitingBytes) {
    start(1024, {"--sw", "002A9E9A=9000"});
    ASSERT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
    Data challenge(pki_file("challenge.bin")), signature;
    EXPECT_EQ(eidSignChallenge(kHandle, &challenge, &signature), EID_SIGN_REFUSED);
    EXPECT_EQ(signature.d.dta, nullptr);
}

TEST_F(PinAndSign, GetResponseRefused) {
    start(1024, {"--sw", "00C00000=6985"});
    ASSERT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
    Data challenge(pki_file("challenge.bin")), signature;
    EXPECT_EQ(eidSignChallenge(kHandle, &challenge, &signature), EID_SIGN_NO_RESPONSE);
}

TEST_F(PinAndSign, ExchangeFailures) {
    start(1024, {"--cut", "00200001"});
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), EID_PIN_EXCHANGE_FAILED);
    Data challenge(pki_file("challenge.bin")), signature;
    EXPECT_EQ(eidSignChallenge(kHandle, &challenge, &signature), EID_SIGN_FAILED);
}

// The reader's own PIN pad: the stand-in library "types" KIT_SPE_PIN.
TEST_F(PinAndSign, SecurePinEntryAcceptedWrongAndCancelled) {
    start(1024);
    const std::string init_record = kit::rig::scratch_dir() + "/spe-init.txt";
    std::filesystem::remove(init_record);
    setenv("KIT_SPE_RECORD", init_record.c_str(), 1);
    ASSERT_EQ(eidSetSPELibrary(reader().c_str(), "Kit PIN Pad", "libspetest.so"), 0);
    unsetenv("KIT_SPE_RECORD");
    EXPECT_EQ(read_text(init_record), "init reader=" + reader() + " value=1 out=0\n");
    ASSERT_EQ(eid_spe_mode(), 1);
    EXPECT_STREQ(eid_spe_reader_name(), "Kit PIN Pad");
    int operational = 0;
    EXPECT_EQ(eidIsOperationalSPESCReader(reader().c_str(), &operational), 0);
    EXPECT_EQ(operational, 1);
    std::string other_case = reader();
    other_case[0] = static_cast<char>(std::tolower(other_case[0]));
    EXPECT_EQ(eidIsOperationalSPESCReader(other_case.c_str(), &operational), 0);
    EXPECT_EQ(operational, 0);
    char* name = nullptr;
    ASSERT_EQ(eidGetSCReaderName(&name), 0);
    EXPECT_EQ(std::string(name), reader());
    std::free(name);

    // What the library receives: the card handle tarvik holds, "en", the card
    // and application identifiers, the value 1, the key's usage and a zeroed
    // result buffer of the key's size.
    const std::string record = kit::rig::scratch_dir() + "/spe-record.txt";
    std::filesystem::remove(record);
    setenv("KIT_SPE_RECORD", record.c_str(), 1);
    SCARDHANDLE card_handle = 0;
    ASSERT_EQ(HCL_get_card_handle(kHandle, &card_handle), 0);
    const std::string card = "card=" + std::to_string(card_handle) + ",en,00000000(8),0 value=1 ";
    const std::string application = " application=00000001(8),CA,eID Card Applet";

    setenv("KIT_SPE_PIN", "1234", 1);
    setenv("KIT_SPE_RESULT_SIZE", "20", 1);
    // The engine's PIN argument plays no part on this path.
    ASSERT_EQ(eidPresentPinSign(kHandle, nullptr), 0);
    Data hash(pki_file("hash.bin")), signature;
    ASSERT_EQ(eidSignChallenge(kHandle, &hash, &signature), 0);
    EXPECT_EQ(signature.bytes(), pki_file("hash.sig"));

    setenv("KIT_SPE_PIN", "9999", 1);
    setenv("KIT_SPE_RESULT_SIZE", "1024", 1);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 3011);
    unsetenv("KIT_SPE_PIN");
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), EID_PIN_CANCELLED);
    unsetenv("KIT_SPE_RESULT_SIZE");
    unsetenv("KIT_SPE_RECORD");
    const std::string sign_call = "verify " + card + "usage=131,SIGN,Signature" + application + " result=20/20 zero";
    const std::string auth_call =
        "verify " + card + "usage=130,AUTH,Authentication" + application + " result=1024/1024 zero";
    EXPECT_EQ(read_text(record), sign_call + "\n" + auth_call + "\n" + auth_call + "\n");
    // No VERIFY of the engine's own reached the card: the two it saw carry
    // the typed PINs, and a cancelled entry sent none.
    const std::string log = card_log();
    EXPECT_TRUE(contains(log, "APDU 0020000108241234FFFFFFFFFF -> 9000"));
    EXPECT_TRUE(contains(log, "APDU 0020000108249999FFFFFFFFFF -> 63C2"));
    std::size_t verifies = 0;
    for (auto at = log.find("APDU 00200001"); at != std::string::npos; at = log.find("APDU 00200001", at + 1))
        ++verifies;
    EXPECT_EQ(verifies, 2u);

    // A library error other than a cancel passes through unchanged.
    setenv("KIT_SPE_PIN", "12", 1);
    EXPECT_EQ(static_cast<unsigned>(eidPresentPinAuthen(kHandle, "1234")), 0x80100022u);
    unsetenv("KIT_SPE_PIN");

    // Asking for the supported-reader list returns to plain VERIFY.
    char list[EID_SPE_READER_LIST_MAX] = "";
    ASSERT_EQ(eidGetXMLSuportedSPEReaders(list), 0);
    EXPECT_TRUE(contains(list, "<reader>Kit PIN Pad</reader>"));
    EXPECT_EQ(eid_spe_mode(), 0);
    EXPECT_EQ(eidIsOperationalSPESCReader(reader().c_str(), &operational), 0);
    EXPECT_EQ(operational, 0);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
}

// Every status word of a VERIFY to its code, on the plain path and through
// the reader's PIN pad: the card answers the next VERIFY with each in turn.
TEST_F(PinAndSign, StatusWordsOfVerifyGiveTheirCodesOnBothPaths) {
    const std::vector<std::pair<std::string, int>> table{
        {"63C5", 3008}, {"63C4", 3009}, {"63C3", 3010}, {"63C2", 3011}, {"63C1", 3012}, {"63C0", 3013},
        {"63C6", 3014}, {"63CF", 3014}, {"6983", 3015}, {"6401", 3016}, {"6982", 3017}, {"63B0", 3017}};
    std::vector<std::string> rules;
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& [sw, code] : table) {
            rules.push_back("--sw");
            rules.push_back("00200001=" + sw + ":1");
        }
    start(1024, rules);
    for (const auto& [sw, code] : table) EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), code) << sw;

    ASSERT_EQ(eidSetSPELibrary(reader().c_str(), "Kit PIN Pad", "libspetest.so"), 0);
    setenv("KIT_SPE_PIN", "1234", 1);
    for (const auto& [sw, code] : table) EXPECT_EQ(eidPresentPinSign(kHandle, nullptr), code) << sw;
    EXPECT_EQ(eidPresentPinSign(kHandle, nullptr), 0);  // the card's own answer again
    unsetenv("KIT_SPE_PIN");
    char list[EID_SPE_READER_LIST_MAX] = "";
    EXPECT_EQ(eidGetXMLSuportedSPEReaders(list), 0);  // back to plain VERIFY for the next test
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
}

// Without the card handle the PIN pad is never asked and no VERIFY is sent.
TEST_F(PinAndSign, SecurePinEntryWithoutACardHandleGives3007) {
    start(1024);
    ASSERT_EQ(eidSetSPELibrary(reader().c_str(), "Kit PIN Pad", "libspetest.so"), 0);
    const std::string record = kit::rig::scratch_dir() + "/spe-no-handle.txt";
    std::filesystem::remove(record);
    setenv("KIT_SPE_RECORD", record.c_str(), 1);
    setenv("KIT_SPE_PIN", "1234", 1);
    TraceCapture trace;
    card_handle_failure = -5;
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 3007);
    EXPECT_EQ(eidPresentPinSign(kHandle, "1234"), 3007);
    card_handle_failure = 0;
    const std::string traced = trace.take();
    EXPECT_TRUE(contains(traced, "ERROR in eidPresentPinAuthen() while calling HCL_get_card_handle(). Error code: -5 "
                                 "(0xFFFFFFFB)"))
        << traced;
    EXPECT_TRUE(contains(traced, "ERROR in eidPresentPinSign() while calling HCL_get_card_handle(). Error code: -5 "
                                 "(0xFFFFFFFB)"));
    unsetenv("KIT_SPE_PIN");
    unsetenv("KIT_SPE_RECORD");
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_TRUE(contains(card_log(), "APDU 002241B6050480018482 -> 9000"));  // MSE SET went first
    EXPECT_FALSE(contains(card_log(), "APDU 00200001"));
    char list[EID_SPE_READER_LIST_MAX] = "";
    EXPECT_EQ(eidGetXMLSuportedSPEReaders(list), 0);  // back to plain VERIFY for the next test
}

TEST_F(PinAndSign, FailedReaderInitialisationKeepsPlainVerify) {
    start(1024);
    setenv("KIT_SPE_INIT_RESULT", "7", 1);
    EXPECT_EQ(eidSetSPELibrary(reader().c_str(), "Kit PIN Pad", "libspetest.so"), 7);
    unsetenv("KIT_SPE_INIT_RESULT");
    EXPECT_EQ(eid_spe_mode(), 0);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 0);
    EXPECT_TRUE(contains(card_log(), "APDU 0020000108241234FFFFFFFFFF -> 9000"));
}

}  // namespace
