// The plain online authentication end to end: virtual eID card in the rig,
// scripted server on loopback, the card cache across two calls.
// Reader: "Kit Plain".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "tarvik.h"
#include "test_auth_server.h"
#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;
using testserver::ScriptedReply;
using testserver::TestAuthServer;

namespace {

constexpr uint8_t kTagTransaction = 4, kTagCert2 = 101, kTagChallenge = 146, kTagChallengeSignature = 147;
constexpr const char* kSelectCert2 = "APDU 00A4020C025038";

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const testserver::TllvItem* find_item(const testserver::RecordedRequest& request, uint8_t tag) {
    for (const auto& item : request.items)
        if (item.tag == tag) return &item;
    return nullptr;
}

class PlainAuthentication : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string scratch = kit::rig::scratch_dir();
        pki_ = scratch + "/pki";
        const std::string& pki = pki_;
        fs::create_directories(scratch + "/appdata");
        ASSERT_TRUE(kit::rig::make_test_pki(pki));
        card_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0),
                                                        std::vector<std::string>{"--profile", "eid", "--pki", pki});
        ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
        ASSERT_TRUE(server_.start());
        ::setenv("APPDATA", (scratch + "/appdata").c_str(), 1);
        ASSERT_EQ(eidStartOnline(server_.url().c_str()), 0);
        ASSERT_TRUE(fs::exists(scratch + "/appdata/eidzundelog.txt"));
        handle_ = openDevice(reader().c_str());
        ASSERT_GT(handle_, 0);
    }
    void script_authentication(const std::string& id) {
        const std::string challenge(20, '\x5A');
        server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, id) +
                                                  testserver::tllv_item(kTagChallenge, challenge))});
        server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, id))});
    }
    int authenticate(const char* pin, char (&id)[PLAIN_TRANSACTION_ID_SIZE]) {
        std::memset(id, 0, sizeof id);
        // Authentication certificate with its CA certificates.
        return eidAuthenticationOnline(handle_, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, pin, id);
    }
    std::string pki_;
    std::unique_ptr<kit::rig::VirtualCard> card_;
    TestAuthServer server_;
    int handle_ = 0;
};

TEST_F(PlainAuthentication, ASixDigitPinReachesTheCardWhole) {
    card_.reset();
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), false));
    card_ = std::make_unique<kit::rig::VirtualCard>(
        kit::rig::port_of(0), std::vector<std::string>{"--profile", "eid", "--pki", pki_, "--pin", "123456"});
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
    handle_ = openDevice(reader().c_str());
    ASSERT_GT(handle_, 0);
    script_authentication("20261208_101012_FEDCBA9876543210");
    char id[PLAIN_TRANSACTION_ID_SIZE];
    ASSERT_EQ(authenticate("123456", id), 0);
    EXPECT_STREQ(id, "20261208_101012_FEDCBA9876543210");
}

TEST_F(PlainAuthentication, TwoCallsOnTheSameCardTheSecondUsesTheCache) {
    script_authentication("20261208_101010_00112233AABBCCDD");
    char id[PLAIN_TRANSACTION_ID_SIZE];
    ASSERT_EQ(authenticate("1234", id), 0);
    EXPECT_STREQ(id, "20261208_101010_00112233AABBCCDD");
    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_NE(find_item(requests[1], kTagChallengeSignature), nullptr);
    EXPECT_EQ(find_item(requests[1], kTagChallengeSignature)->value.size(), 128u);
    ASSERT_NE(find_item(requests[1], kTagCert2), nullptr);
    const std::string cert2 = find_item(requests[1], kTagCert2)->value;
    EXPECT_EQ(count(card_->log(), kSelectCert2), 1u);

    script_authentication("20261208_101011_0123456789ABCDEF");
    ASSERT_EQ(authenticate("1234", id), 0);
    EXPECT_STREQ(id, "20261208_101011_0123456789ABCDEF");
    requests = server_.requests();
    ASSERT_EQ(requests.size(), 4u);
    ASSERT_NE(find_item(requests[3], kTagCert2), nullptr);
    EXPECT_EQ(find_item(requests[3], kTagCert2)->value, cert2);
    EXPECT_EQ(count(card_->log(), kSelectCert2), 1u) << "the certificate came from the cache";
}

TEST_F(PlainAuthentication, AWrongPinAndAMissingIdentifierAreReported) {
    // The PIN fails after the first exchange: no second one is made.
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "20261208_101010_0011") +
                                              testserver::tllv_item(kTagChallenge, std::string(20, '\x5A')))});
    char id[PLAIN_TRANSACTION_ID_SIZE];
    EXPECT_EQ(authenticate("9999", id), 3011);  // wrong PIN, two tries left
    EXPECT_STREQ(id, "");

    // A second exchange without an identifier leaves the buffer empty: 1.
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagChallenge, std::string(20, '\x11')))});
    server_.script({200, ""});
    EXPECT_EQ(authenticate("1234", id), 1);
    EXPECT_STREQ(id, "");
    EXPECT_EQ(eidAuthenticationOnline(handle_, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, "1234", nullptr), -1);
}

}  // namespace
