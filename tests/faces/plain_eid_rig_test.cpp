// The plain eID exports end to end: start-up, reader selection and the
// public-data reads against pcscd and a virtual eID card. Reader: "Kit Plain".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tarvik.h"
#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;

namespace {

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct ReadOutputs {
    char identity[PLAIN_ID_TEXT_SIZE] = "old identity";
    char address[PLAIN_ADDRESS_TEXT_SIZE] = "old address";
    unsigned char photo[PLAIN_PHOTO_SIZE] = {};
    int photo_len = -7;
    std::string photo_bytes() const { return {reinterpret_cast<const char*>(photo), static_cast<std::size_t>(photo_len)}; }
};

class PlainFaceWithEidCard : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = kit::rig::scratch_dir();
        pki_ = scratch_ + "/pki";
        ASSERT_TRUE(kit::rig::make_test_pki(pki_));
        insert("");
        // Log and data directory under the scratch folder.
        app_data_ = scratch_ + "/appdata";
        fs::create_directories(app_data_ + "/logs");
        ::setenv("APPDATA", app_data_.c_str(), 1);
        ::setenv("USERNAME", "u", 1);
        ASSERT_EQ(eidStartAccessRights("logs"), 0);
        handle_ = openDevice(reader().c_str());
        ASSERT_GT(handle_, 0);
    }
    // The card of the test PKI (a variant of it) in the reader.
    void insert(const std::string& variant) {
        if (card_) {
            card_.reset();
            ASSERT_TRUE(kit::rig::wait_for_card(reader(), false));
        }
        std::vector<std::string> args{"--profile", "eid", "--pki", pki_};
        if (!variant.empty()) args.insert(args.end(), {"--variant", variant});
        card_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0), args);
        ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
    }
    int verify(ReadOutputs& out) {
        return readEidPubDataVerify(handle_, 0, 1, 1, 1, out.identity, out.address, out.photo, &out.photo_len);
    }
    int read(ReadOutputs& out, int address, int identity, int photo, int format = 0) {
        return readEidPubDataIdentify(handle_, format, address, identity, photo, out.identity, out.address, out.photo,
                                      &out.photo_len);
    }
    std::string scratch_, pki_, app_data_;
    std::unique_ptr<kit::rig::VirtualCard> card_;
    int handle_ = 0;
};

TEST_F(PlainFaceWithEidCard, StartUpLogsWhereTheHostAskedAndTheReaderIsOpen) {
    EXPECT_EQ(cardPresent(handle_), 1);
    char list[PLAIN_READER_LIST_SIZE] = "";
    EXPECT_EQ(getIccList(list), 0);
    EXPECT_NE(std::string(list).find(reader()), std::string::npos);
    struct stat info {};
    EXPECT_EQ(::stat((app_data_ + "/logs/u_eiddlllog.txt").c_str(), &info), 0);
    EXPECT_EQ(openDevice(std::string(1024, 'r').c_str()), -1);
}

TEST_F(PlainFaceWithEidCard, IdentityAddressAndPhotoAsLinesAndXml) {
    ReadOutputs out;
    ASSERT_EQ(read(out, 1, 1, 1), 0);
    const std::string identity = out.identity;
    EXPECT_EQ(identity.rfind("CARD_NUMBER=591234567890\n", 0), 0u);
    EXPECT_NE(identity.find("\nNAME=Peeters\nFIRST_NAMES=Jan Pieter\n"), std::string::npos);
    EXPECT_STREQ(out.address, "STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n");
    EXPECT_EQ(out.photo_bytes(), file_bytes(pki_ + "/photo.jpg"));

    ReadOutputs xml;
    ASSERT_EQ(read(xml, 1, 0, 0, 1), 0);
    EXPECT_NE(std::string(xml.address).find("<STREET_AND_NUMBER>Kerkstraat 12</STREET_AND_NUMBER>"), std::string::npos);
    EXPECT_STREQ(xml.identity, "old identity");
    EXPECT_EQ(xml.photo_len, 0);
}

TEST_F(PlainFaceWithEidCard, IdentityAloneIsReallyReadAndFlagsOtherThanOneCountAsZero) {
    ReadOutputs out;
    ASSERT_EQ(read(out, 0, 1, 0), 0);
    EXPECT_NE(std::string(out.identity).find("NAME=Peeters\n"), std::string::npos);
    EXPECT_STREQ(out.address, "old address");
    EXPECT_EQ(out.photo_len, 0);

    ReadOutputs none;
    ASSERT_EQ(read(none, 2, 2, 2), 0);
    EXPECT_STREQ(none.identity, "old identity");
    EXPECT_STREQ(none.address, "old address");
    EXPECT_EQ(none.photo_len, 0);
}

TEST_F(PlainFaceWithEidCard, AFailedReadLeavesTheOutputs) {
    card_->remove();
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), false));
    ReadOutputs out;
    EXPECT_NE(read(out, 1, 1, 1), 0);
    EXPECT_STREQ(out.identity, "old identity");
    EXPECT_EQ(out.photo_len, -7);
    EXPECT_EQ(cardPresent(handle_), 0);
}

TEST_F(PlainFaceWithEidCard, VerifiedReadFillsTheSameOutputs) {
    ReadOutputs out;
    ASSERT_EQ(verify(out), 0);
    EXPECT_NE(std::string(out.identity).find("NAME=Peeters\n"), std::string::npos);
    EXPECT_STREQ(out.address, "STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n");
    EXPECT_EQ(out.photo_bytes(), file_bytes(pki_ + "/photo.jpg"));
}

TEST_F(PlainFaceWithEidCard, VerifiedReadOfAChangedCardFailsWithTheCheckThatFailed) {
    const std::pair<const char*, int> cards[] = {
        {"tampered-identity", 1010}, {"tampered-address", 1011}, {"wrong-photo-hash", 1012}, {"foreign-root", 1019},
        {"selfsigned-rrn", 1019}};
    for (const auto& [variant, code] : cards) {
        insert(variant);
        ReadOutputs out;
        EXPECT_EQ(verify(out), code) << variant;
        EXPECT_STREQ(out.identity, "old identity") << variant;
        EXPECT_EQ(out.photo_len, -7) << variant;
        // The same card read without checks is fine.
        EXPECT_EQ(read(out, 1, 1, 1), 0) << variant;
    }
    insert("");
    ReadOutputs out;
    EXPECT_EQ(verify(out), 0);
}

TEST_F(PlainFaceWithEidCard, CertificateFilesLandInsideTheLogDirectory) {
    ReadOutputs out;
    ASSERT_EQ(readEidPubDataVerify(handle_, 0, 1, 1, 1, out.identity, out.address, out.photo, &out.photo_len), 0);
    const auto pem_files = [](const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".pem") names.push_back(entry.path().filename().string());
        return names;
    };
    EXPECT_TRUE(pem_files(scratch_).empty());
    const auto inside = pem_files(app_data_);
    EXPECT_FALSE(inside.empty());
    // The national-register certificate, named by the transaction.
    EXPECT_TRUE(std::any_of(inside.begin(), inside.end(), [](const std::string& name) {
        return name.ends_with("_cert8.pem") && name.find('/') == std::string::npos;
    }));
}

}  // namespace
