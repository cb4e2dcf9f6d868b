// What the transactions do at the card, seen through a fake reader layer:
// which controller row reads, saves or checks what under which request mask
// and which code its failure gives, the whole command sequence with its
// pauses and PC/SC transactions, and the early ends of the key transactions.
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_key_transactions.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_session.h"

#include "engine_test_util.h"
#include "fake_eid_reader.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int H = 0x1A2B;  // the device handle of the reader layer

// The card files of one test PKI, made once for the whole program.
const TempDir& pki() {
    static const std::unique_ptr<TempDir> dir = [] {
        auto made = std::make_unique<TempDir>();
        const std::string command = std::string(TESTPKI_PATH) + " " + made->path().string() + " --bits 1024";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return made;
    }();
    return *dir;
}
Bytes pki_file(const std::string& name) { return read_bytes(pki().path() / name); }

// Where each item lives on the card.
const std::map<int, std::string> kCardFiles{
    {0x4031, "identity.bin"}, {0x4032, "identity.sig"}, {0x4033, "address.bin"}, {0x4034, "address.sig"},
    {0x4035, "photo.jpg"},    {0x5038, "auth.der"},     {0x5039, "sign.der"},    {0x503A, "ca.der"},
    {0x503B, "root.der"},     {0x503C, "rrn.der"},
};


// The log of a card check that passes.
const std::vector<std::string> kCheck{"status",          "begin 10", select_apdu(0x3F00) + " 9000", "sleep 20",
                                      select_apdu(0xDF01) + " 9000", "sleep 20", select_apdu(0x4031) + " 9000",
                                      "sleep 20",        "end"};

// The log of one whole file read: its path, then blocks of 128 bytes, each
// followed by the pause; the part after the last whole block comes with
// 6Cxx and its repeat (no pause after it), a file of whole blocks ends with
// 6B00.
std::vector<std::string> file_read(int directory, int fid, std::size_t size) {
    std::vector<std::string> log{select_apdu(0x3F00) + " 9000", select_apdu(directory) + " 9000", select_apdu(fid) + " 9000"};
    std::size_t offset = 0;
    for (; offset + 128 <= size; offset += 128) {
        log.push_back("00B0" + hex_number(static_cast<int>(offset), 4) + "80 9000");
        log.emplace_back("sleep 20");
    }
    const std::string at = "00B0" + hex_number(static_cast<int>(offset), 4);
    if (size % 128 == 0) {
        log.push_back(at + "80 6B00");
        log.emplace_back("sleep 20");
    } else {
        const std::string rest = hex_number(static_cast<int>(size % 128), 2);
        log.push_back(at + "80 6C" + rest);
        log.emplace_back("sleep 20");
        log.push_back(at + rest + " 9000");
    }
    return log;
}
std::vector<std::string> file_read(int fid) {
    return file_read(fid >= 0x5000 ? 0xDF00 : 0xDF01, fid, pki_file(kCardFiles.at(fid)).size());
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The files selected for reading inside the transaction's PC/SC
// transaction, in order.
std::vector<int> files_read() {
    std::vector<int> files;
    const auto& log = fake_eid_card().log;
    bool inside = false;
    for (const auto& entry : log) {
        if (entry == "begin 10000") inside = true;
        if (!inside || entry.rfind("00A4020C02", 0) != 0) continue;
        const int fid = std::stoi(entry.substr(10, 4), nullptr, 16);
        if (fid != 0x3F00 && fid != 0xDF00 && fid != 0xDF01) files.push_back(fid);
    }
    return files;
}

std::string text_of(const S_EID_DATA& d) { return d.dta == nullptr ? "" : std::string(d.dta, d.dta + d.dta_len); }

class CardTransactions : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_eid_card();
        for (const auto& [fid, name] : kCardFiles) fake_eid_card().files[fid] = pki_file(name);
        ASSERT_EQ(eidInit(nullptr, (data_.path().string() + "/").c_str()), 0);
        ASSERT_EQ(eidOpenReader("Fake Reader"), H);
        fake_eid_card().log.clear();
    }
    void refuse_select(int fid) { fake_eid_card().refuse[select_apdu(fid)] = 0x6A82; }
    bool saved(const Records& r, int number) const {
        return std::filesystem::exists(data_.file(text_of(r.out.id_transaction) + "_cert" + std::to_string(number) +
                                                  ".pem"));
    }
    bool nothing_saved() const { return std::filesystem::is_empty(data_.path()); }

    TempDir data_;
};

// The single bits of a row's request bit: each one alone selects the row.
std::vector<int32_t> bits_of(int32_t bits) {
    std::vector<int32_t> single;
    for (int32_t bit = 1; bit != 0 && bit <= bits; bit <<= 1)
        if (bits & bit) single.push_back(bit);
    return single;
}

// A read row: the request mask and bit that select it, the files the
// transaction reads up to and including the row's own target (whose READ
// BINARY the card refuses), and the code of the failure.
struct ReadRow {
    const char* row;
    int mask;
    int32_t bit;
    std::vector<int> reads;
    int code;
};

const ReadRow kReadRows[] = {
    {"file row 1", 0, 0x60000, {0x4031}, 1005},
    {"file row 2", 0, 0x60000, {0x4031, 0x4033}, 1105},
    {"file row 3", 3, 0x80000, {0x4035}, 1006},
    {"file row 4", 1, 0x924, {0x4032}, 1007},
    {"file row 5", 1, 0x924, {0x4032, 0x4034}, 1008},
    {"file row 6", 4, 0x4124, {0x4035}, 1006},
    {"file row 7", 4, 0x4124, {0x4035, 0x4031}, 1005},
    {"file row 8", 4, 0x4124, {0x4035, 0x4031, 0x4032}, 1007},
    {"file row 9", 1, 0x924, {0x4032, 0x4034, 0x4031}, 1005},
    {"file row 10", 1, 0x924, {0x4032, 0x4034, 0x4031, 0x4033}, 1105},
    {"certificate row 1", 5, 0x124, {0x5038}, 1001},
    {"certificate row 2", 6, 0x124, {0x5039}, 1020},
    {"certificate row 3", 7, 0x124, {0x503A}, 1002},
    {"certificate row 4", 8, 0x124, {0x503B}, 1003},
    {"certificate row 5", 9, 0x124, {0x503C}, 1004},
    {"certificate row 6", 1, 0x924, {0x4032, 0x4034, 0x4031, 0x4033, 0x503C}, 1004},
    {"certificate row 7", 4, 0x4124, {0x4035, 0x4031, 0x4032, 0x503C}, 1004},
    {"certificate row 8", 5, 0x4, {0x5038, 0x503A}, 1002},
    {"certificate row 9", 5, 0x4, {0x5038, 0x503A, 0x503B}, 1003},
    {"certificate row 10", 6, 0x4, {0x5039, 0x503A}, 1002},
    {"certificate row 11", 6, 0x4, {0x5039, 0x503A, 0x503B}, 1003},
};

TEST_F(CardTransactions, EachReadRowFailsWithItsCodeUnderEachBitOfItsMask) {
    for (const ReadRow& row : kReadRows) {
        for (const int32_t bit : bits_of(row.bit)) {
            SCOPED_TRACE(std::string(row.row) + ", mask " + std::to_string(row.mask) + " = 0x" + hex_number(bit, 1));
            SetUp();
            fake_eid_card().refuse_read[row.reads.back()] = 0x6982;
            Records r;
            r.in.function_id = PUB_DATA_VER_OFFLINE;
            r.in.request_mask[row.mask] = bit;
            EXPECT_EQ(eidPubDataVerify(H, &r.in, &r.out), row.code);
            EXPECT_EQ(files_read(), row.reads);
            EXPECT_EQ(fake_eid_card().log.back(), "end");
        }
    }
}

TEST_F(CardTransactions, BitsOutsideEveryRowReadAndCheckNothing) {
    // Every bit that no read, save or check row of a mask has.
    const int32_t row_bits[EID_REQUEST_MASKS] = {0x60000, 0x924 | 0x2492, 0,     0x80000, 0x4124 | 0x2492,
                                                 0x124 | 0x2492,   0x124 | 0x2492, 0x124, 0x124,   0x124};
    Records r;
    r.in.function_id = PUB_DATA_VER_OFFLINE;
    for (int i = 0; i < EID_REQUEST_MASKS; ++i) r.in.request_mask[i] = ~row_bits[i];
    ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
    EXPECT_EQ(fake_eid_card().log, joined({kCheck, {"begin 10000", "end"}}));
    EXPECT_TRUE(nothing_saved());
}

// A row of the save, photo-hash, signature-check and chain-check tables: the
// mask that selects it (under each bit of 0x2492), what the output holds
// before (good card items, and certificates whose bytes are no
// certificate), the code, and the certificates saved before the failure.
struct CheckRow {
    const char* row;
    int mask;
    std::vector<std::string> good;  // output members filled from the card's files
    std::vector<int> broken;        // certificate numbers filled with bytes that are no certificate
    int code;
    std::vector<int> saved;
};

const CheckRow kCheckRows[] = {
    {"save row 1", 5, {}, {2}, 1024, {}},
    {"save row 2", 5, {"cert2"}, {4}, 1026, {2}},
    {"save row 3", 5, {"cert2", "cert4"}, {6}, 1027, {2, 4}},
    {"save row 4", 6, {}, {3}, 1025, {}},
    {"save row 5", 6, {"cert3"}, {4}, 1026, {3}},
    {"save row 6", 6, {"cert3", "cert4"}, {6}, 1027, {3, 4}},
    {"save row 7", 1, {}, {8}, 1028, {}},
    {"save row 8", 4, {}, {8}, 1028, {}},
    {"photo-hash row", 4, {}, {}, 1029, {}},
    {"signature row 1", 1, {}, {}, 1010, {}},
    {"signature row 2", 4, {"id_rn"}, {}, 1012, {}},
    {"signature row 3", 1, {"id_rn", "sgn_rn", "cert8"}, {}, 1011, {8}},
    {"chain row 1", 5, {}, {}, 1019, {}},
    {"chain row 2", 6, {}, {}, 1023, {}},
};

void fill_good(S_EID_FUNCTION_OUTPUT& out, const std::string& member) {
    if (member == "id_rn") fill(out.id_rn, pki_file("identity.bin"));
    if (member == "sgn_rn") fill(out.sgn_rn, pki_file("identity.sig"));
    if (member == "cert2") fill(out.cert2, pki_file("auth.der"), 2);
    if (member == "cert3") fill(out.cert3, pki_file("sign.der"), 3);
    if (member == "cert4") fill(out.cert4, pki_file("ca.der"), 4);
    if (member == "cert8") fill(out.cert8, pki_file("rrn.der"), 8);
}

S_EID_CERT& certificate(S_EID_FUNCTION_OUTPUT& out, int number) {
    switch (number) {
        case 2: return out.cert2;
        case 3: return out.cert3;
        case 4: return out.cert4;
        case 6: return out.cert6;
        default: return out.cert8;
    }
}

TEST_F(CardTransactions, EachSaveHashAndCheckRowFailsWithItsCode) {
    for (const CheckRow& row : kCheckRows) {
        for (const int32_t bit : bits_of(0x2492)) {
            SCOPED_TRACE(std::string(row.row) + ", mask " + std::to_string(row.mask) + " = 0x" + hex_number(bit, 1));
            SetUp();
            Records r;
            r.in.function_id = PUB_DATA_VER_OFFLINE;
            r.in.request_mask[row.mask] = bit;
            for (const auto& member : row.good) fill_good(r.out, member);
            for (const int number : row.broken)
                fill(certificate(r.out, number), {0x30, 0x03, 0x01, 0x02, 0x03}, static_cast<uint32_t>(number));
            EXPECT_EQ(eidPubDataVerify(H, &r.in, &r.out), row.code);
            EXPECT_TRUE(files_read().empty());
            for (const int number : {2, 3, 4, 6, 8}) {
                const bool expected = std::find(row.saved.begin(), row.saved.end(), number) != row.saved.end();
                EXPECT_EQ(saved(r, number), expected) << "certificate " << number;
            }
        }
    }
}

TEST_F(CardTransactions, AFailingCertificateReadStopsBeforeAnySave) {
    Records good;
    good.in.function_id = PUB_DATA_CAP_OFFLINE;
    good.in.request_mask[5] = 0x4 | 0x2;  // certificates 2, 4 and 6, saved and checked
    ASSERT_EQ(eidPubDataCapture(H, &good.in, &good.out), 0);
    EXPECT_TRUE(saved(good, 2) && saved(good, 4) && saved(good, 6));
    EXPECT_EQ(good.out.cert2_ccv_stat, 1);

    SetUp();
    std::filesystem::remove_all(data_.path());
    std::filesystem::create_directory(data_.path());
    refuse_select(0x503B);
    Records r;
    r.in.function_id = PUB_DATA_CAP_OFFLINE;
    r.in.request_mask[5] = 0x4 | 0x2;
    EXPECT_EQ(eidPubDataCapture(H, &r.in, &r.out), 1003);
    EXPECT_EQ(files_read(), (std::vector<int>{0x5038, 0x503A, 0x503B}));
    EXPECT_TRUE(nothing_saved());
    EXPECT_EQ(r.out.cert2.dsc, nullptr);
    EXPECT_EQ(r.out.cert2_ccv_stat, 0);
}

TEST_F(CardTransactions, CaptureReadsEverythingInTableOrderWithItsPauses) {
    Records r;
    r.in.function_id = PUB_DATA_CAP_OFFLINE;
    const int32_t masks[EID_REQUEST_MASKS] = {0x20000, 0x7FFF, 0, 0x80000, 0x7FFF,
                                              0x7FFF,  0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF};
    std::memcpy(r.in.request_mask, masks, sizeof masks);
    ASSERT_EQ(eidPubDataCapture(H, &r.in, &r.out), 0);
    // Each check ran on its own items and wrote its own status.
    for (const int status : {r.out.id_rn_stat, r.out.id_address_stat, r.out.id_photo_stat, r.out.cert2_ccv_stat,
                             r.out.cert3_ccv_stat})
        EXPECT_EQ(status, 1);
    for (const int number : {2, 3, 4, 6, 8}) EXPECT_TRUE(saved(r, number)) << "certificate " << number;
    EXPECT_EQ(fake_eid_card().log,
              joined({kCheck, {"begin 10000"}, file_read(0x4031), file_read(0x4033), file_read(0x4035),
                      file_read(0x4032), file_read(0x4034), file_read(0x5038), file_read(0x5039), file_read(0x503A),
                      file_read(0x503B), file_read(0x503C), {"end"}}));
}

TEST_F(CardTransactions, VerificationReadsCertificatesInRowOrder) {
    Records r;
    r.in.function_id = PUB_DATA_VER_OFFLINE;
    r.in.request_mask[5] = 0x4;   // certificate rows 1, 8 and 9
    r.in.request_mask[9] = 0x20;  // certificate row 5
    ASSERT_EQ(eidPubDataVerify(H, &r.in, &r.out), 0);
    EXPECT_EQ(fake_eid_card().log, joined({kCheck, {"begin 10000"}, file_read(0x5038), file_read(0x503C),
                                           file_read(0x503A), file_read(0x503B), {"end"}}));
}

TEST_F(CardTransactions, ReadBinaryPausesAfterEveryAnsweredBlockButNotAfterTheRepeat) {
    fake_eid_card().files[0x4033] = Bytes(300, 0x41);  // 9000, 9000, 6C2C and the repeat
    fake_eid_card().files[0x4034] = Bytes(256, 0x42);  // 9000, 9000, 6B00
    Data address, signature;
    ASSERT_EQ(eidReadIdAddress(H, &address), 0);
    ASSERT_EQ(eidReadSgnAddress(H, &signature), 0);
    EXPECT_EQ(address.bytes(), Bytes(300, 0x41));
    EXPECT_EQ(fake_eid_card().log, joined({file_read(0xDF01, 0x4033, 300), file_read(0xDF01, 0x4034, 256)}));

    // A failed exchange is not followed by a pause.
    fake_eid_card().log.clear();
    fake_eid_card().cut = {"00B0008080"};
    Data cut;
    EXPECT_NE(eidReadIdAddress(H, &cut), 0);
    EXPECT_EQ(fake_eid_card().log.back(), "00B0008080 cut");
}

TEST_F(CardTransactions, CardCheckPausesOnlyAfterSelectsTheCardAccepts) {
    refuse_select(0xDF01);
    EXPECT_EQ(eidCheckCard(H), 3003);
    EXPECT_EQ(fake_eid_card().log, (std::vector<std::string>{"status", "begin 10", select_apdu(0x3F00) + " 9000",
                                                             "sleep 20", select_apdu(0xDF01) + " 6A82", "end"}));
    fake_eid_card().log.clear();
    fake_eid_card().refuse.clear();
    fake_eid_card().cut = {select_apdu(0x4031)};
    EXPECT_EQ(eidCheckCard(H), 3004);
    EXPECT_EQ(fake_eid_card().log,
              (std::vector<std::string>{"status", "begin 10", select_apdu(0x3F00) + " 9000", "sleep 20",
                                        select_apdu(0xDF01) + " 9000", "sleep 20", select_apdu(0x4031) + " cut", "end"}));
}

using KeyTransaction = int (*)(int, S_EID_FUNCTION_INPUT*, S_EID_FUNCTION_OUTPUT*);
struct KeyCase {
    const char* name;
    KeyTransaction run;
    int32_t offline;
    int32_t not_found;
    int own_certificate;  // file read directly after the signature
};
const KeyCase kKeyCases[] = {
    {"eidAuthentication", eidAuthentication, AUTHENT_OFFLINE, AUTHENT_NF, 0x5038},
    {"eidSigningData", eidSigningData, SIGNING_OFFLINE, SIGNING_NF, 0x5039},
};

void ask_key(Records& r, int32_t code) {
    r.in.function_id = code;
    fill(r.in.pincode, Bytes{'1', '2', '3', '4'});
    fill(r.in.hash1, Bytes(20, 0x11));
}

TEST_F(CardTransactions, KeyTransactionsNeedAReaderAndEndWhatTheyBegin) {
    for (const KeyCase& key : kKeyCases) {
        SCOPED_TRACE(key.name);
        SetUp();
        // A code with the operation's bit that is neither accepted value:
        // refused after the PC/SC transaction was begun, which is ended.
        Records wrong;
        ask_key(wrong, key.not_found);
        EXPECT_EQ(key.run(H, &wrong.in, &wrong.out), 1000);
        EXPECT_EQ(fake_eid_card().log, joined({kCheck, {"begin 10000", "end"}}));

        // No reader selected: nothing reaches the reader layer.
        eidOpenReader("");
        fake_eid_card().log.clear();
        TraceCapture trace;
        Records none;
        ask_key(none, key.offline);
        EXPECT_EQ(key.run(H, &none.in, &none.out), 3018);
        EXPECT_TRUE(fake_eid_card().log.empty());
        EXPECT_NE(trace.take().find(std::string("ERROR in ") + key.name +
                                    "(). No smartcard reader selected, char * reader_name is empty"),
                  std::string::npos);
    }
}

TEST_F(CardTransactions, KeyTransactionsEndWithTheFailedReadOfTheirCertificate) {
    for (const KeyCase& key : kKeyCases) {
        SCOPED_TRACE(key.name);
        SetUp();
        refuse_select(key.own_certificate);
        Records r;
        ask_key(r, key.offline);
        TraceCapture trace;
        EXPECT_EQ(key.run(H, &r.in, &r.out), -1);
        const std::string failed = std::string("ERROR in ") + key.name + "(...) while calling eidReadCertificate(...)";
        EXPECT_NE(trace.take().find(failed), std::string::npos);
        EXPECT_EQ(files_read(), std::vector<int>{key.own_certificate});
        const auto& log = fake_eid_card().log;
        EXPECT_EQ(log.back(), "end");
        EXPECT_EQ(log[log.size() - 2], select_apdu(key.own_certificate) + " 6A82");
        // The card signed before the read.
        EXPECT_NE(std::find(log.begin(), log.end(), "00C0000080 9000"), log.end());
        EXPECT_TRUE(nothing_saved());
    }
}

}  // namespace
