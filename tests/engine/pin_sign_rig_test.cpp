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

namespace {

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
    ASSERT_EQ(eidSetSPELibrary(reader().c_str(), "Kit PIN Pad", "libspetest.so"), 0);
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

    setenv("KIT_SPE_PIN", "1234", 1);
    // The engine's PIN argument plays no part on this path.
    ASSERT_EQ(eidPresentPinSign(kHandle, nullptr), 0);
    Data hash(pki_file("hash.bin")), signature;
    ASSERT_EQ(eidSignChallenge(kHandle, &hash, &signature), 0);
    EXPECT_EQ(signature.bytes(), pki_file("hash.sig"));

    setenv("KIT_SPE_PIN", "9999", 1);
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), 3011);
    unsetenv("KIT_SPE_PIN");
    EXPECT_EQ(eidPresentPinAuthen(kHandle, "1234"), EID_PIN_CANCELLED);
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
