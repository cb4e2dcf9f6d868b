// The public-data transactions, the card reads beneath them and the card
// check, end to end: the engine, the reader layer, pcscd and the virtual eID
// card made from the test PKI. Reader: "Kit Plain".
#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_session.h"

#include "engine_test_util.h"
#include "tarvik/reader/hcl.h"
#include "tarvik/reader/pcsc_common.h"
#include "tests/rig/rig_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string reader() { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

// Everything read, saved and checked.
void ask_for_everything(Records& r, int32_t code) {
    r.in.function_id = code;
    const int32_t masks[EID_REQUEST_MASKS] = {0x20000, 0x7FFF, 0, 0x80000, 0x7FFF,
                                              0x7FFF,  0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF};
    std::memcpy(r.in.request_mask, masks, sizeof masks);
}

std::string text_of(const S_EID_DATA& d) { return d.dta == nullptr ? "" : std::string(d.dta, d.dta + d.dta_len); }
Bytes bytes_of(const S_EID_DATA& d) { return d.dta == nullptr ? Bytes{} : Bytes(d.dta, d.dta + d.dta_len); }

// The READ BINARY commands of a whole file of `size` bytes.
std::vector<std::string> reads_of(std::size_t size) {
    std::vector<std::string> commands;
    std::size_t offset = 0;
    for (; offset + 128 <= size; offset += 128) commands.push_back("00B0" + hex_number(static_cast<int>(offset), 4) + "80");
    commands.push_back("00B0" + hex_number(static_cast<int>(offset), 4) + "80");
    if (size % 128 != 0) commands.push_back("00B0" + hex_number(static_cast<int>(offset), 4) + hex_number(static_cast<int>(size % 128), 2));
    return commands;
}
std::vector<std::string> read_file_commands(std::initializer_list<int> path, std::size_t size) {
    std::vector<std::string> commands;
    for (int fid : path) commands.push_back(select_apdu(fid));
    for (auto& c : reads_of(size)) commands.push_back(c);
    return commands;
}
const std::vector<std::string> kCheckCommands{select_apdu(0x3F00), select_apdu(0xDF01), select_apdu(0x4031)};

// The command APDUs of a virtual card's log, in order.
std::vector<std::string> commands_in(const std::string& log) {
    std::vector<std::string> commands;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("APDU ", 0) != 0) continue;
        commands.push_back(line.substr(5, line.find(" -> ") - 5));
    }
    return commands;
}

// The server of the online tests, played in process: records the request,
// answers with a transaction identifier.
Bytes g_request;
std::string g_server_id;
int play_server(unsigned char* request, int request_len, unsigned char* reply, int* reply_len) {
    g_request.assign(request, request + request_len);
    reply[0] = 4;
    reply[1] = static_cast<unsigned char>(g_server_id.size());
    reply[2] = 0;
    std::memcpy(reply + 3, g_server_id.data(), g_server_id.size());
    *reply_len = static_cast<int>(3 + g_server_id.size());
    return 0;
}
int do_nothing(unsigned char*, int, unsigned char*, int* reply_len) {
    *reply_len = 0;
    return 0;
}

class EidCardInReader : public ::testing::Test {
protected:
    void SetUp() override {
        pki_ = kit::rig::scratch_dir() + "/pki";
        data_ = kit::rig::scratch_dir() + "/data/";
        std::filesystem::create_directories(data_);
        ASSERT_TRUE(kit::rig::make_test_pki(pki_));
        ASSERT_EQ(eidInit(do_nothing, data_.c_str()), 0);
    }
    // The card from the test PKI (a variant of it, more options) in the
    // reader, which is opened.
    std::unique_ptr<kit::rig::VirtualCard> insert(const std::string& variant = "",
                                                  std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--pki", pki_};
        if (!variant.empty()) args.insert(args.end(), {"--variant", variant});
        args.insert(args.end(), more.begin(), more.end());
        // pcscd must have seen the previous card go before a new one counts.
        EXPECT_TRUE(kit::rig::wait_for_card(reader(), false));
        auto card = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0), args);
        EXPECT_TRUE(kit::rig::wait_for_card(reader(), true));
        EXPECT_EQ(eidOpenReader(reader().c_str()), HCL_DEVICE_HANDLE);
        return card;
    }
    std::size_t size_of(const std::string& name) const { return std::filesystem::file_size(pki_ + "/" + name); }
    Bytes file(const std::string& name) const { return read_bytes(pki_ + "/" + name); }
    int held() const { return tarvik_resolve_device(HCL_DEVICE_HANDLE)->transaction_held; }

    std::string pki_, data_;
};

constexpr int H = HCL_DEVICE_HANDLE;

TEST_F(EidCardInReader, OfflineVerificationOfAGoodCard) {
    auto card = insert();
    Records r;
    ask_for_everything(r, PUB_DATA_VER_OFFLINE);
    init_S_EID_DATA(&r.in.id_session, reinterpret_cast<const unsigned char*>("S1"), 2, nullptr, 0);
    ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
    EXPECT_EQ(r.out.function_id, PUB_DATA_VER_OFFLINE);
    EXPECT_EQ(text_of(r.out.id_session), "S1");
    EXPECT_EQ(r.out.id_rn_stat, 1);
    EXPECT_EQ(r.out.id_address_stat, 1);
    EXPECT_EQ(r.out.id_photo_stat, 1);
    EXPECT_EQ(r.out.cert2_ccv_stat, 1);
    EXPECT_EQ(r.out.cert3_ccv_stat, 1);
    EXPECT_EQ(bytes_of(r.out.id_rn), file("identity.bin"));
    EXPECT_EQ(bytes_of(r.out.sgn_rn), file("identity.sig"));
    EXPECT_EQ(bytes_of(r.out.id_photo), file("photo.jpg"));
    EXPECT_EQ(Bytes(r.out.cert8.crt, r.out.cert8.crt + r.out.cert8.crt_len), file("rrn.der"));
    EXPECT_EQ(r.out.cert8.no, 8u);
    const Bytes id = file("identity.bin");
    EXPECT_EQ(bytes_of(r.out.id_rn_photo_hash), Bytes(id.end() - 20, id.end()));

    // PEM copies under the data directory and the new transaction identifier.
    const std::string tid = text_of(r.out.id_transaction);
    ASSERT_EQ(tid.size(), 32u);
    for (int n : {2, 3, 4, 6, 8}) {
        const std::string name = data_ + tid + "_cert" + std::to_string(n) + ".pem";
        EXPECT_TRUE(std::filesystem::exists(name)) << name;
    }
    EXPECT_EQ(std::string(r.out.cert8.dsc), data_ + tid + "_cert8.pem");
    EXPECT_EQ(held(), 0);
}

TEST_F(EidCardInReader, TamperedFilesFailTheirChecks) {
    {
        auto card = insert("tampered-identity");
        Records r;
        ask_for_everything(r, PUB_DATA_VER_OFFLINE);
        ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
        EXPECT_EQ(r.out.id_rn_stat, -1);
        EXPECT_EQ(r.out.id_photo_stat, -1);
        EXPECT_EQ(r.out.id_address_stat, 1);
    }
    {
        auto card = insert("tampered-address");
        Records r;
        ask_for_everything(r, PUB_DATA_CAP_OFFLINE);
        ASSERT_EQ(eidPubDataCapture(H, &r.in, &r.out), 0);
        EXPECT_EQ(r.out.id_rn_stat, 1);
        EXPECT_EQ(r.out.id_address_stat, -1);
    }
}

TEST_F(EidCardInReader, WrongPhotoHashForeignRootAndZeroEndings) {
    {
        auto card = insert("wrong-photo-hash");
        Records r;
        ask_for_everything(r, PUB_DATA_VER_OFFLINE);
        EXPECT_EQ(eidPubDataVerify(H, &r.in, &r.out), 1012);
        EXPECT_EQ(r.out.id_rn_stat, 1);  // the check before it ran
        EXPECT_EQ(r.out.id_photo_stat, 0);
        EXPECT_EQ(r.out.cert2_ccv_stat, 0);  // the chain table did not run
        EXPECT_EQ(held(), 0);
    }
    // A foreign root; and the genuine root beside a self-signed CA of the
    // card's own that issued certificates 2 and 3: neither chain reaches
    // the card's root.
    for (const char* variant : {"foreign-root", "selfsigned-ca"}) {
        SCOPED_TRACE(variant);
        auto card = insert(variant);
        Records r;
        ask_for_everything(r, PUB_DATA_VER_OFFLINE);
        ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
        EXPECT_EQ(r.out.cert2_ccv_stat, -1);
        EXPECT_EQ(r.out.cert3_ccv_stat, -1);
        EXPECT_EQ(r.out.id_rn_stat, 1);
        if (std::string(variant) == "selfsigned-ca") {
            EXPECT_EQ(Bytes(r.out.cert6.crt, r.out.cert6.crt + r.out.cert6.crt_len), file("root.der"));
        }
    }
    {
        auto card = insert("zero-tail");
        Records r;
        ask_for_everything(r, PUB_DATA_VER_OFFLINE);
        ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
        EXPECT_EQ(bytes_of(r.out.id_rn), file("zt_identity.bin"));
        EXPECT_EQ(bytes_of(r.out.sgn_rn), file("zt_identity.sig"));
        ASSERT_EQ(r.out.id_rn_photo_hash.dta_len, 20u);
        EXPECT_EQ(r.out.id_rn_photo_hash.dta[19], 0);
        EXPECT_EQ(r.out.id_rn_stat, 1);
        EXPECT_EQ(r.out.id_photo_stat, 1);
        EXPECT_EQ(r.out.id_address_stat, 1);
    }
}

TEST_F(EidCardInReader, IdentityFileBeginningWithATagZeroItemKeepsAHashEndingInZeros) {
    for (const std::string prefix : {"tag0_00_", "tag0_0000_"}) {
        auto card = insert(prefix == "tag0_00_" ? "tag0-hash-00" : "tag0-hash-0000");
        const Bytes identity = file(prefix + "identity.bin");
        ASSERT_EQ(identity[0], 0) << prefix;
        Records r;
        ask_for_everything(r, PUB_DATA_VER_OFFLINE);
        ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0) << prefix;
        EXPECT_EQ(bytes_of(r.out.id_rn), identity) << prefix;
        EXPECT_EQ(bytes_of(r.out.id_rn_photo_hash), Bytes(identity.end() - 20, identity.end())) << prefix;
        EXPECT_EQ(r.out.id_rn_stat, 1) << prefix;
        EXPECT_EQ(r.out.id_photo_stat, 1) << prefix;
        EXPECT_EQ(r.out.id_address_stat, 1) << prefix;
    }
}

TEST_F(EidCardInReader, FilesAndCertificatesThatReadBackEmptyAreReadOnce) {
    // An address file of zeros (trimmed to nothing) and an empty root
    // certificate (6B00 at offset 0); both are asked for by two rows.
    auto card = insert("", {"--file", "3F00/DF01/4033=" + std::string(2 * 117, '0'), "--file", "3F00/DF00/503B="});
    Records r;
    r.in.function_id = PUB_DATA_VER_OFFLINE;
    r.in.request_mask[0] = 0x60000;
    r.in.request_mask[1] = 0x924;
    r.in.request_mask[5] = 0x4;
    r.in.request_mask[8] = 0x124;
    eidPubDataVerify(H, &r.in, &r.out);
    const auto commands = commands_in(card->log());
    EXPECT_EQ(std::count(commands.begin(), commands.end(), select_apdu(0x4033)), 1);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), select_apdu(0x503B)), 1);
    EXPECT_EQ(r.out.id_address.dta_len, 0u);
    EXPECT_EQ(r.out.cert6.crt_len, 0u);
    EXPECT_EQ(held(), 0);
}

TEST_F(EidCardInReader, IdentityCaptureReadsWhatTheMasksAskInTheCommandOrder) {
    auto card = insert();
    Records r;
    r.in.function_id = IDENT_CAP_OFFLINE;
    r.in.request_mask[0] = 0x20000;
    ASSERT_EQ(eidPubDataCaptureIdentify(H, &r.in, &r.out), 0);
    EXPECT_EQ(bytes_of(r.out.id_rn), file("identity.bin"));
    // The address file's padding is dropped.
    const Bytes address = file("address.bin");
    EXPECT_EQ(bytes_of(r.out.id_address), Bytes(address.begin(), address.begin() + 27));
    EXPECT_TRUE(is_empty_S_EID_DATA(&r.out.id_photo));
    EXPECT_EQ(r.out.id_transaction.dta_len, 32u);

    std::vector<std::string> expected = kCheckCommands;
    for (auto& c : read_file_commands({0x3F00, 0xDF01, 0x4031}, size_of("identity.bin"))) expected.push_back(c);
    for (auto& c : read_file_commands({0x3F00, 0xDF01, 0x4033}, size_of("address.bin"))) expected.push_back(c);
    EXPECT_EQ(commands_in(card->log()), expected);

    // All masks 0: the check, nothing read.
    Records none;
    none.in.function_id = IDENT_CAP_OFFLINE;
    const std::size_t before = commands_in(card->log()).size();
    ASSERT_EQ(eidPubDataCaptureIdentify(H, &none.in, &none.out), 0);
    EXPECT_EQ(commands_in(card->log()).size(), before + 3);
    EXPECT_EQ(none.out.id_transaction.dta_len, 32u);
}

TEST_F(EidCardInReader, FunctionCodesAreCheckedAfterTheCardCheck) {
    auto card = insert();
    const std::pair<int32_t, int (*)(int, S_EID_FUNCTION_INPUT*, S_EID_FUNCTION_OUTPUT*)> refused[] = {
        {IDENT_CAP_NF, eidPubDataCaptureIdentify}, {PUB_DATA_CAP_ONLINE, eidPubDataCaptureIdentify},
        {PUB_DATA_CAP_NF, eidPubDataCapture},      {0, eidPubDataCapture},
        {PUB_DATA_CAP_ONLINE, eidPubDataVerify},   {PUB_DATA_VER_NF, eidPubDataVerify},
    };
    kit::rig::TraceCapture trace;
    for (const auto& [code, transaction] : refused) {
        Records r;
        r.in.function_id = code;
        r.in.request_mask[0] = 0x20000;
        const std::size_t before = commands_in(card->log()).size();
        EXPECT_EQ(transaction(H, &r.in, &r.out), EID_WRONG_FUNCTION) << std::hex << code;
        EXPECT_EQ(commands_in(card->log()).size(), before + 3) << "only the card check reached the card";
        EXPECT_TRUE(is_empty_S_EID_DATA(&r.out.id_rn));
        EXPECT_EQ(held(), 0);
    }
    const std::string traced = trace.text();
    EXPECT_NE(traced.find("ERROR in eidPubDataCaptureIdentify(...), eID function ID is incorrect"), std::string::npos);
    EXPECT_NE(traced.find("ERROR: eID function name is incorrect"), std::string::npos);
    EXPECT_NE(traced.find("ERROR in eidPubDataVerify(...), eID function name is incorrect"), std::string::npos);
    EXPECT_NE(traced.find("ERROR in eidPubDataVerify(...) eID function name is incorrect"), std::string::npos);
}

TEST_F(EidCardInReader, OnlineCaptureAndVerificationTalkToTheServer) {
    auto card = insert();
    ASSERT_EQ(eidInit(play_server, data_.c_str()), 0);
    g_server_id = "SRV_0001";
    Records r;
    ask_for_everything(r, PUB_DATA_VER_ONLINE);
    ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
    EXPECT_EQ(text_of(r.out.id_transaction), "SRV_0001");
    EXPECT_EQ(r.out.id_rn_stat, 1);
    // Files named before the reply: DEFAULT.
    EXPECT_TRUE(std::filesystem::exists(data_ + "DEFAULT_cert8.pem"));
    EXPECT_EQ(std::string(r.out.cert2.dsc), data_ + "DEFAULT_cert2.pem");
    // The request carried the card data: the identity file is in it.
    const Bytes id = file("identity.bin");
    EXPECT_NE(std::search(g_request.begin(), g_request.end(), id.begin(), id.end()), g_request.end());

    g_server_id = "../escape";
    Records capture;
    ask_for_everything(capture, PUB_DATA_CAP_ONLINE);
    ASSERT_EQ(eidPubDataCapture(H, &capture.in, &capture.out), 0);
    EXPECT_TRUE(is_empty_S_EID_DATA(&capture.out.id_transaction));

    ASSERT_EQ(eidInit(do_nothing, data_.c_str()), 0);
    Records identify;
    identify.in.function_id = IDENT_CAP_ONLINE;
    identify.in.request_mask[0] = 0x20000;
    ASSERT_EQ(eidPubDataCaptureIdentify(H, &identify.in, &identify.out), 0);
    EXPECT_EQ(bytes_of(identify.out.id_rn), id);
    EXPECT_TRUE(is_empty_S_EID_DATA(&identify.out.id_transaction));
    EXPECT_EQ(held(), 0);
}

TEST_F(EidCardInReader, CardCheckCodes) {
    Data id_card;
    {
        auto card = insert("", {"--atr", "3B99134000"});
        EXPECT_EQ(eidCheckCard(H), EID_CHECK_INCORRECT_ATR);
    }
    {
        auto card = insert("", {"--sw", "00A4020C02DF01=6A82"});
        EXPECT_EQ(eidCheckCard(H), EID_CHECK_NO_EID_CARD);
        Records r;
        r.in.function_id = PUB_DATA_VER_OFFLINE;
        EXPECT_EQ(eidPubDataVerify(H, &r.in, &r.out), EID_CHECK_NO_EID_CARD);
        EXPECT_EQ(eidGetCardIdentifier(H, &id_card), EID_CHECK_NO_EID_CARD);
    }
    {
        auto card = insert("", {"--cut", "00A4020C024031"});
        EXPECT_EQ(eidCheckCard(H), EID_CHECK_COMMAND_FAILED);
        EXPECT_EQ(held(), 0);
    }
    {
        auto card = insert();
        card->remove();
        ASSERT_TRUE(kit::rig::wait_for_card(reader(), false));
        EXPECT_EQ(eidCheckCard(H), EID_CHECK_STATUS);
    }
}

TEST_F(EidCardInReader, CardIdentifierIsTheDigestOfTheSignatureFile) {
    {
        auto card = insert();
        Data id_card;
        ASSERT_EQ(eidGetCardIdentifier(H, &id_card), 0);
        Data sig(file("identity.sig")), expected;
        ASSERT_EQ(eidSha1(&sig, &expected), 0);
        EXPECT_EQ(id_card.bytes(), expected.bytes());
    }
    {
        auto card = insert("", {"--sw", "00B0=6982"});
        Data id_card;
        EXPECT_EQ(eidGetCardIdentifier(H, &id_card), 1007);
        EXPECT_TRUE(is_empty_S_EID_DATA(&id_card));
    }
}

TEST_F(EidCardInReader, ReadBinaryEndings) {
    Bytes three_hundred(300), two_fifty_six(256);
    for (std::size_t i = 0; i < 300; ++i) three_hundred[i] = static_cast<unsigned char>(i % 250 + 1);
    for (std::size_t i = 0; i < 256; ++i) two_fifty_six[i] = static_cast<unsigned char>(i % 250 + 1);
    const std::string hex300 = [&] {
        std::string t;
        for (auto b : three_hundred) t += hex_number(b, 2);
        return t;
    }();
    std::string hex256;
    for (auto b : two_fifty_six) hex256 += hex_number(b, 2);
    auto card = insert("", {"--file", "3F00/DF01/4033=" + hex300, "--file", "3F00/DF01/4036=" + hex256, "--file",
                            "3F00/DF01/4032=0102030405060708090A0B0C0D0E0F10"});
    Data address, photo_sig, small;
    ASSERT_EQ(eidReadIdAddress(H, &address), 0);
    EXPECT_EQ(address.bytes(), three_hundred);
    ASSERT_EQ(eidReadSgnPhoto(H, &photo_sig), 0);
    EXPECT_EQ(photo_sig.bytes(), two_fifty_six);
    ASSERT_EQ(eidReadSgnRn(H, &small), 0);
    EXPECT_EQ(small.d.dta_len, 16u);
    const std::string log = card->log();
    EXPECT_NE(log.find("APDU 00B0010080 -> 6C2C"), std::string::npos);
    EXPECT_NE(log.find("APDU 00B001002C -> "), std::string::npos);
    EXPECT_NE(log.find("APDU 00B0010080 -> 6B00"), std::string::npos);
    EXPECT_NE(log.find("APDU 00B0000080 -> 6C10"), std::string::npos);

    // A certificate number outside the five selects 0000 under DF00.
    S_EID_CERT cert{};
    init_S_EID_CERT(&cert);
    EXPECT_EQ(eidReadCertificate(H, 5, &cert), -1);
    EXPECT_NE(card->log().find("APDU 00A4020C020000 -> 6A82"), std::string::npos);
    free_S_EID_CERT(&cert);
}

TEST_F(EidCardInReader, RefusedReadsAndSelectsAndTheTransactionLeftBehind) {
    auto card = insert("", {"--sw", "00B0=6982:1", "--sw", "00A4020C024036=6A82", "--sw", "00A4020C02503B=6A82"});
    Data refused, missing;
    EXPECT_EQ(eidReadIdRn(H, &refused), 0x6982);
    EXPECT_TRUE(is_empty_S_EID_DATA(&refused));

    ASSERT_EQ(HCL_card_Start_transaction(H, 10000), 0);
    EXPECT_EQ(eidReadSgnPhoto(H, &missing), 1);
    EXPECT_EQ(held(), 0);  // the data-file path released it

    ASSERT_EQ(HCL_card_Start_transaction(H, 10000), 0);
    S_EID_CERT cert{};
    init_S_EID_CERT(&cert);
    EXPECT_EQ(eidReadCertificate(H, 6, &cert), -1);
    EXPECT_EQ(held(), 1);  // the certificate path keeps it
    HCL_card_End_transaction(H);

    // Certificates keep their DER length.
    EXPECT_EQ(eidReadCertificate(H, 8, &cert), 0);
    EXPECT_EQ(Bytes(cert.crt, cert.crt + cert.crt_len), file("rrn.der"));
    free_S_EID_CERT(&cert);
}

TEST_F(EidCardInReader, OversizedFileAndRemovalInTheMiddleOfARead) {
    {
        auto card = insert("big-photo");
        Records r;
        r.in.function_id = IDENT_CAP_OFFLINE;
        r.in.request_mask[0] = 0x20000;
        r.in.request_mask[3] = 0x80000;
        EXPECT_EQ(eidPubDataCaptureIdentify(H, &r.in, &r.out), 1006);
        EXPECT_TRUE(is_empty_S_EID_DATA(&r.out.id_photo));
        EXPECT_EQ(bytes_of(r.out.id_rn), file("identity.bin"));  // read before it, kept
        EXPECT_EQ(held(), 0);
        // Nothing was asked past the 4,096-byte buffer but the block that showed it.
        EXPECT_EQ(card->log().find("APDU 00B0108080"), std::string::npos);
    }
    {
        auto card = insert("", {"--cut", "00B0010080"});
        Records r;
        ask_for_everything(r, PUB_DATA_VER_OFFLINE);
        // The photo is the first file with a third block.
        EXPECT_EQ(eidPubDataVerify(H, &r.in, &r.out), 1006);
        EXPECT_NE(card->log().find("CUT 00B0010080"), std::string::npos);
        EXPECT_EQ(bytes_of(r.out.id_rn), file("identity.bin"));
        EXPECT_EQ(held(), 0);
    }
}

}  // namespace
