// Authentication and signing transactions end to end: the engine, the
// reader layer, pcscd and the virtual eID card with the test PKI's keys and
// certificates; online, an in-process callback answers as the server would.
// Reader: "Kit Plain".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine_test_util.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_key_transactions.h"
#include "tarvik/engine/eid_pin.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/engine/eid_sign.h"
#include "tarvik/engine/eid_tllv.h"
#include "tarvik/engine/tllv_presets.h"
#include "tarvik/reader/hcl.h"
#include "tests/rig/rig_support.h"

namespace {

constexpr int kHandle = HCL_DEVICE_HANDLE;

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void put(S_EID_DATA& member, const Bytes& bytes) {
    free_S_EID_DATA(&member);
    init_S_EID_DATA(&member, bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
}
void put(S_EID_DATA& member, const std::string& text) { put(member, Bytes(text.begin(), text.end())); }
Bytes bytes_of(const S_EID_DATA& member) {
    return member.dta == nullptr ? Bytes{} : Bytes(member.dta, member.dta + member.dta_len);
}
std::string text_of(const S_EID_DATA& member) {
    return member.dta == nullptr ? "" : std::string(reinterpret_cast<const char*>(member.dta), member.dta_len);
}

// The server: what each exchange sent, decoded with the request preset the
// test names, and the reply the test scripts for it.
struct Exchange {
    int result = 0;
    std::function<void(S_EID_FUNCTION_OUTPUT&)> fill;  // the reply's members
    int (*reply_preset)(S_EID_TLLV_SELECTOR*) = nullptr;
    Bytes request;
};
std::vector<Exchange> g_exchanges;
std::size_t g_next = 0;

int server(unsigned char* request, int request_len, unsigned char* reply, int* reply_len) {
    if (g_next >= g_exchanges.size()) return 99;
    Exchange& exchange = g_exchanges[g_next++];
    exchange.request.assign(request, request + request_len);
    if (exchange.fill) {
        Records answer;
        exchange.fill(answer.out);
        S_EID_TLLV_SELECTOR selector{};
        init_S_EID_TLLV_SELECTOR(&selector);
        exchange.reply_preset(&selector);
        uint32_t length = 0;
        unsigned char* encoded = eidStructs2TLLV(&answer.in, &answer.out, &selector, &length);
        if (encoded != nullptr && length <= static_cast<uint32_t>(EID_REPLY_BUFFER_SIZE)) {
            std::memcpy(reply, encoded, length);
            *reply_len = static_cast<int>(length);
        }
        std::free(encoded);
    }
    return exchange.result;
}

// Decodes what an exchange sent with the preset the engine should have used.
void decode(const Bytes& request, int (*preset)(S_EID_TLLV_SELECTOR*), Records& into) {
    S_EID_TLLV_SELECTOR selector{};
    init_S_EID_TLLV_SELECTOR(&selector);
    preset(&selector);
    ASSERT_EQ(eidTLLV2Structs(request.data(), static_cast<uint32_t>(request.size()), &into.in, &into.out, &selector), 0);
}

class KeyTransactions : public ::testing::Test {
protected:
    void start(std::vector<std::string> extra = {}, const std::string& auth_key = "auth") {
        pki_ = kit::rig::scratch_dir() + "/pki";
        data_ = kit::rig::scratch_dir() + "/data/";
        std::filesystem::create_directories(data_);
        ASSERT_TRUE(kit::rig::make_test_pki(pki_));
        std::vector<std::string> args{"--pki", pki_, "--key", "82=" + pki_ + "/" + auth_key + ".key.pem"};
        args.insert(args.end(), extra.begin(), extra.end());
        card_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0), args);
        ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
        ASSERT_EQ(eidInit(server, data_.c_str()), 0);
        ASSERT_EQ(eidOpenReader(reader().c_str()), kHandle);
        g_exchanges.clear();
        g_next = 0;
    }
    Bytes pki_file(const std::string& name) const { return read_bytes(pki_ + "/" + name); }
    std::string card_log() const { return card_->log(); }

    std::string pki_, data_;
    std::unique_ptr<kit::rig::VirtualCard> card_;
};

TEST_F(KeyTransactions, OfflineAuthenticationVerifiesTheCardsSignature) {
    start();
    Records r;
    r.in.function_id = AUTHENT_OFFLINE;
    put(r.in.pincode, std::string("1234"));
    put(r.in.id_session, std::string("SESSION-1"));
    ASSERT_EQ(eidAuthentication(kHandle, &r.in, &r.out), 0);
    EXPECT_EQ(r.out.auth_stat, 1);
    EXPECT_EQ(r.out.function_id, AUTHENT_OFFLINE);
    EXPECT_EQ(r.out.auth_chal.dta_len, 20u);
    EXPECT_EQ(r.out.auth_sgn.dta_len, 128u);
    EXPECT_EQ(text_of(r.out.id_session), "SESSION-1");
    EXPECT_EQ(Bytes(r.out.cert2.crt, r.out.cert2.crt + r.out.cert2.crt_len), pki_file("auth.der"));
    // The certificate of the key used is saved under the transaction identifier.
    const std::string pem = data_ + text_of(r.out.id_transaction) + "_cert2.pem";
    EXPECT_EQ(r.out.id_transaction.dta_len, 32u);
    EXPECT_TRUE(std::filesystem::exists(pem)) << pem;
    ASSERT_NE(r.out.cert2.dsc, nullptr);
    EXPECT_EQ(std::string(r.out.cert2.dsc), pem);
    EXPECT_EQ(g_next, 0u);  // offline: no exchange
}

TEST_F(KeyTransactions, EveryRequestRunsAllTablesAroundTheSignature) {
    start();
    Records r;
    r.in.function_id = SIGNING_OFFLINE;
    put(r.in.pincode, std::string("1234"));
    put(r.in.hash1, pki_file("hash.bin"));
    for (int32_t& mask : r.in.request_mask) mask = 0x7FFFFFFF;
    ASSERT_EQ(eidSigningData(kHandle, &r.in, &r.out), 0);
    EXPECT_EQ(r.out.sign_stat, 1);
    EXPECT_EQ(r.out.id_rn_stat, 1);
    EXPECT_EQ(r.out.id_address_stat, 1);
    EXPECT_EQ(r.out.id_photo_stat, 1);
    EXPECT_EQ(bytes_of(r.out.id_rn), pki_file("identity.bin"));
    const std::string id = text_of(r.out.id_transaction);
    for (const char* number : {"2", "3", "4", "6", "8"})
        EXPECT_TRUE(std::filesystem::exists(data_ + id + "_cert" + number + ".pem")) << number;
}

TEST_F(KeyTransactions, OfflineAuthenticationWithAForeignKeyIsNotVerified) {
    start({}, "sign");  // the card signs with a key that is not certificate 2's
    Records r;
    r.in.function_id = AUTHENT_OFFLINE;
    put(r.in.pincode, std::string("1234"));
    EXPECT_EQ(eidAuthentication(kHandle, &r.in, &r.out), 0);
    EXPECT_EQ(r.out.auth_stat, -1);
}

TEST_F(KeyTransactions, OfflineSigningOfATwentyByteHash) {
    start();
    Records r;
    r.in.function_id = SIGNING_OFFLINE;
    put(r.in.pincode, std::string("1234"));
    put(r.in.hash1, pki_file("hash.bin"));
    ASSERT_EQ(eidSigningData(kHandle, &r.in, &r.out), 0);
    EXPECT_EQ(r.out.sign_stat, 1);
    EXPECT_EQ(bytes_of(r.out.sign_hash), pki_file("hash.bin"));
    EXPECT_EQ(bytes_of(r.out.sign_sgn), pki_file("hash.sig"));
    EXPECT_TRUE(contains(card_log(), "APDU 002241B6050480018483 -> 9000"));
    EXPECT_TRUE(std::filesystem::exists(data_ + text_of(r.out.id_transaction) + "_cert3.pem"));
}

TEST_F(KeyTransactions, WrongPinsThenBlockedAndUnsignableRequestsSpendNoTry) {
    start();
    for (const int expected : {3011, 3012}) {
        Records r;
        r.in.function_id = AUTHENT_OFFLINE;
        put(r.in.pincode, std::string("9999"));
        EXPECT_EQ(eidAuthentication(kHandle, &r.in, &r.out), expected);
        EXPECT_EQ(r.out.auth_sgn.dta, nullptr);
    }
    {
        // An empty hash cannot be signed: refused before the PIN.
        Records r;
        r.in.function_id = SIGNING_OFFLINE;
        put(r.in.pincode, std::string("9999"));
        EXPECT_EQ(eidSigningData(kHandle, &r.in, &r.out), EID_SIGN_REFUSED);
    }
    {
        Records r;
        r.in.function_id = SIGNING_OFFLINE;
        put(r.in.pincode, std::string("9999"));
        put(r.in.hash1, pki_file("hash.bin"));
        EXPECT_EQ(eidSigningData(kHandle, &r.in, &r.out), 3013);
    }
    Records r;
    r.in.function_id = AUTHENT_OFFLINE;
    put(r.in.pincode, std::string("1234"));
    EXPECT_EQ(eidAuthentication(kHandle, &r.in, &r.out), 3015);
}

TEST_F(KeyTransactions, RefusedPinFormatSendsNoVerifyAndWrongCodesAreRefused) {
    start();
    Records r;
    r.in.function_id = AUTHENT_OFFLINE;
    put(r.in.pincode, std::string("12"));
    EXPECT_EQ(eidAuthentication(kHandle, &r.in, &r.out), EID_PIN_FORMAT_REFUSED);
    Records no_pin;
    no_pin.in.function_id = SIGNING_OFFLINE;
    put(no_pin.in.hash1, pki_file("hash.bin"));
    EXPECT_EQ(eidSigningData(kHandle, &no_pin.in, &no_pin.out), EID_PIN_FORMAT_REFUSED);
    Records wrong;
    wrong.in.function_id = AUTHENT_NF;
    put(wrong.in.pincode, std::string("1234"));
    EXPECT_EQ(eidAuthentication(kHandle, &wrong.in, &wrong.out), EID_WRONG_FUNCTION);
    wrong.in.function_id = SIGNING_NF;
    EXPECT_EQ(eidSigningData(kHandle, &wrong.in, &wrong.out), EID_WRONG_FUNCTION);
    wrong.in.function_id = SIGNING_OFFLINE;
    EXPECT_EQ(eidAuthentication(kHandle, &wrong.in, &wrong.out), EID_WRONG_FUNCTION);
    EXPECT_FALSE(contains(card_log(), "APDU 00200001")) << card_log();
    EXPECT_FALSE(contains(card_log(), "APDU 002241B6")) << card_log();
}

TEST_F(KeyTransactions, OnlineAuthenticationExchangesTwice) {
    start();
    const Bytes challenge = pki_file("challenge.bin");
    g_exchanges = {
        {0,
         [&](S_EID_FUNCTION_OUTPUT& out) {
             put(out.id_transaction, std::string("TX-0001"));
             put(out.auth_chal, challenge);
             out.function_id = 0x123;  // whatever the server says, the code is restored
         },
         init_S_EID_TLLV_SELECTOR_authen1_rx, {}},
        {0, nullptr, nullptr, {}},
    };
    Records r;
    r.in.function_id = AUTHENT_ONLINE;
    put(r.in.pincode, std::string("1234"));
    put(r.in.id_session, std::string("SESSION-2"));
    ASSERT_EQ(eidAuthentication(kHandle, &r.in, &r.out), 0);
    ASSERT_EQ(g_next, 2u);
    EXPECT_EQ(r.out.function_id, AUTHENT_ONLINE);
    EXPECT_EQ(r.out.auth_stat, 0);  // not checked here online

    Records first;
    decode(g_exchanges[0].request, init_S_EID_TLLV_SELECTOR_authen1_tx, first);
    EXPECT_EQ(first.out.function_id, EID_AUTHENT_FIRST_EXCHANGE);
    EXPECT_EQ(text_of(first.out.id_session), "SESSION-2");
    EXPECT_EQ(first.out.auth_chal.dta, nullptr);

    Records second;
    decode(g_exchanges[1].request, init_S_EID_TLLV_SELECTOR_authen2_tx, second);
    EXPECT_EQ(second.out.function_id, AUTHENT_ONLINE);
    EXPECT_EQ(text_of(second.out.id_transaction), "TX-0001");
    EXPECT_EQ(bytes_of(second.out.auth_chal), challenge);
    EXPECT_EQ(bytes_of(second.out.auth_sgn), pki_file("challenge.sig"));
    EXPECT_EQ(Bytes(second.out.cert2.crt, second.out.cert2.crt + second.out.cert2.crt_len), pki_file("auth.der"));
}

TEST_F(KeyTransactions, OnlineAuthenticationResultComesFromTheSecondExchange) {
    start();
    g_exchanges = {
        {0, [&](S_EID_FUNCTION_OUTPUT& out) { put(out.auth_chal, pki_file("challenge.bin")); },
         init_S_EID_TLLV_SELECTOR_authen1_rx, {}},
        {42, nullptr, nullptr, {}},
    };
    Records r;
    r.in.function_id = AUTHENT_ONLINE;
    put(r.in.pincode, std::string("1234"));
    EXPECT_EQ(eidAuthentication(kHandle, &r.in, &r.out), 42);
}

TEST_F(KeyTransactions, OnlineChallengeTheCardCannotSignSpendsNoTry) {
    start();
    // A failed first exchange leaves no challenge; an oversized one is refused too.
    g_exchanges = {{55, nullptr, nullptr, {}}};
    Records r;
    r.in.function_id = AUTHENT_ONLINE;
    put(r.in.pincode, std::string("1234"));
    EXPECT_EQ(eidAuthentication(kHandle, &r.in, &r.out), EID_SIGN_REFUSED);
    g_exchanges = {{0, [&](S_EID_FUNCTION_OUTPUT& out) { put(out.auth_chal, Bytes(EID_SIGN_INPUT_MAX + 1, 7)); },
                    init_S_EID_TLLV_SELECTOR_authen1_rx, {}}};
    g_next = 0;
    Records big;
    big.in.function_id = AUTHENT_ONLINE;
    put(big.in.pincode, std::string("1234"));
    EXPECT_EQ(eidAuthentication(kHandle, &big.in, &big.out), EID_SIGN_REFUSED);
    EXPECT_FALSE(contains(card_log(), "APDU 00200001")) << card_log();
}

TEST_F(KeyTransactions, OnlineSigningExchangesOnceAtTheEnd) {
    start();
    g_exchanges = {{0, [](S_EID_FUNCTION_OUTPUT& out) { put(out.id_transaction, std::string("TX-0002")); },
                    init_S_EID_TLLV_SELECTOR_signing_rx, {}}};
    Records r;
    r.in.function_id = SIGNING_ONLINE;
    put(r.in.pincode, std::string("1234"));
    put(r.in.hash1, pki_file("hash.bin"));
    for (int32_t& mask : r.in.request_mask) mask = 0x7FFFFFFF;
    ASSERT_EQ(eidSigningData(kHandle, &r.in, &r.out), 0);
    ASSERT_EQ(g_next, 1u);
    // No identifier before the exchange: the saved certificates are named after DEFAULT.
    EXPECT_TRUE(std::filesystem::exists(data_ + "DEFAULT_cert3.pem"));
    EXPECT_EQ(text_of(r.out.id_transaction), "TX-0002");
    Records sent;
    decode(g_exchanges[0].request, init_S_EID_TLLV_SELECTOR_signing_tx, sent);
    EXPECT_EQ(sent.out.function_id, SIGNING_ONLINE);
    EXPECT_EQ(bytes_of(sent.out.sign_hash), pki_file("hash.bin"));
    EXPECT_EQ(bytes_of(sent.out.sign_sgn), pki_file("hash.sig"));
    EXPECT_EQ(Bytes(sent.out.cert3.crt, sent.out.cert3.crt + sent.out.cert3.crt_len), pki_file("sign.der"));
}

}  // namespace
