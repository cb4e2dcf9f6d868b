// Engine pieces that need no card: start-up, the server exchange, names and
// identifiers, the photo hash, the card cache and the controller tables.
#include "tarvik/engine/eid_card_cache.h"
#include "tarvik/engine/eid_controller_tables.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_session.h"

#include "engine_test_util.h"
#include "tarvik/reader/hcl.h"
#include "tests/test_locales.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

Bytes bytes_of(const S_EID_DATA& d) { return d.dta == nullptr ? Bytes{} : Bytes(d.dta, d.dta + d.dta_len); }
std::string text_of(const S_EID_DATA& d) { return d.dta == nullptr ? "" : std::string(d.dta, d.dta + d.dta_len); }

// The server's side of an exchange, set per test.
Bytes g_reply;
int g_result = 0;
int g_reply_len_override = -1;
Bytes g_request;
int play_server(unsigned char* request, int request_len, unsigned char* reply, int* reply_len) {
    g_request.assign(request, request + request_len);
    std::memcpy(reply, g_reply.data(), g_reply.size());
    *reply_len = g_reply_len_override >= 0 ? g_reply_len_override : static_cast<int>(g_reply.size());
    return g_result;
}

Bytes transaction_id_item(const std::string& id) {
    Bytes item(3 + id.size());
    item[0] = 4;
    item[1] = static_cast<unsigned char>(id.size());
    std::copy(id.begin(), id.end(), item.begin() + 3);
    return item;
}

TEST(StartUp, DirectoryIsStoredReplacedOrRefused) {
    ASSERT_EQ(eidInit(play_server, "/data/one/"), 0);
    EXPECT_STREQ(eid_data_directory(), "/data/one/");
    std::strcpy(eid_spe_reader_name(), "Pad");
    ASSERT_EQ(eidInitWeb(play_server, nullptr), 0);
    EXPECT_STREQ(eid_data_directory(), "");
    EXPECT_STREQ(eid_spe_reader_name(), "");

    ASSERT_EQ(eidInit(play_server, "/kept/"), 0);
    const std::string too_long(EID_DATA_DIRECTORY_SIZE, 'd');
    EXPECT_EQ(eidInit(nullptr, too_long.c_str()), -1);
    EXPECT_STREQ(eid_data_directory(), "/kept/");
    const std::string fits(EID_DATA_DIRECTORY_SIZE - 1, 'd');
    EXPECT_EQ(eidInit(play_server, fits.c_str()), 0);
    EXPECT_EQ(std::string(eid_data_directory()), fits);
}

TEST(ServerExchange, ReplyStoredFailuresPassedOnAndUnsafeIdentifiersDropped) {
    Records r;
    r.out.function_id = PUB_DATA_VER_ONLINE;
    S_EID_TLLV_SELECTOR all{};
    init_S_EID_TLLV_SELECTOR(&all);

    eidInit(nullptr, nullptr);
    EXPECT_EQ(communicationCallBack(&all, &r.in, &all, &r.out), -1);  // no callback: never called

    eidInit(play_server, nullptr);
    g_result = 0;
    g_reply = transaction_id_item("20261208_101010_ABCDEF0123456789");
    ASSERT_EQ(communicationCallBack(&all, &r.in, &all, &r.out), 0);
    EXPECT_EQ(text_of(r.out.id_transaction), "20261208_101010_ABCDEF0123456789");
    // The request carried the function code (tag 1, 4 bytes).
    ASSERT_GE(g_request.size(), 7u);
    EXPECT_EQ(g_request[0], 1);

    g_result = 7;
    g_reply = transaction_id_item("other");
    EXPECT_EQ(communicationCallBack(&all, &r.in, &all, &r.out), 7);
    EXPECT_EQ(text_of(r.out.id_transaction), "20261208_101010_ABCDEF0123456789");

    g_result = 0;
    free_S_EID_DATA(&r.out.id_transaction);
    g_reply = transaction_id_item("../../etc/x");
    EXPECT_EQ(communicationCallBack(&all, &r.in, &all, &r.out), 0);
    EXPECT_TRUE(is_empty_S_EID_DATA(&r.out.id_transaction));
    g_reply = transaction_id_item(std::string(65, 'a'));
    EXPECT_EQ(communicationCallBack(&all, &r.in, &all, &r.out), 0);
    EXPECT_TRUE(is_empty_S_EID_DATA(&r.out.id_transaction));

    // A callback claiming more than the reply buffer holds is bounded.
    g_reply = transaction_id_item("id-1");
    g_reply_len_override = 1 << 30;
    EXPECT_EQ(communicationCallBack(&all, &r.in, &all, &r.out), 0);
    g_reply_len_override = -1;
    EXPECT_EQ(text_of(r.out.id_transaction), "id-1");
}

TEST(Identifiers, FormatRandomnessAndChallengeBuffers) {
    const std::regex format("[0-9]{8}_[0-9]{6}_[0-9A-F]{16}");
    Data first, second;
    ASSERT_EQ(eidGenerateTransactionID(&first), 0);
    ASSERT_EQ(eidGenerateTransactionID(&second), 0);
    const std::string a = text_of(first.d), b = text_of(second.d);
    EXPECT_TRUE(std::regex_match(a, format)) << a;
    EXPECT_NE(a.substr(16), b.substr(16));  // made within one second, still different

    char text[EID_TRANSACTION_ID_LENGTH + 1];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(eidGenerateTransactionIDText(text), 0);
    EXPECT_EQ(std::strlen(text), 32u);
    EXPECT_TRUE(std::regex_match(std::string(text), format));

    EXPECT_EQ(eidGenerateChallenge(nullptr), EID_CHALLENGE_NULL_RECORD);
    Data roomy(Bytes(24, 0xEE));
    unsigned char* kept = roomy.d.dta;
    ASSERT_EQ(eidGenerateChallenge(&roomy), 0);
    EXPECT_EQ(roomy.d.dta, kept);
    EXPECT_EQ(roomy.d.dta_len, 20u);
    Data small(Bytes(4, 0xEE));
    ASSERT_EQ(eidGenerateChallenge(&small), 0);
    EXPECT_EQ(small.d.dta_len, 20u);
    Data fresh;
    ASSERT_EQ(eidGenerateChallenge(&fresh), 0);
    EXPECT_NE(fresh.bytes(), small.bytes());
}

TEST(PhotoHash, TakenFromTheLastItemEvenWhenItEndsInZero) {
    Bytes hash(20, 0x5A);
    hash[19] = 0x00;
    Bytes id_rn(7 + hash.size());
    const unsigned char head[] = {0x01, 0x03, 'a', 'b', 'c', 0x11, 0x14};
    std::copy(std::begin(head), std::end(head), id_rn.begin());
    std::copy(hash.begin(), hash.end(), id_rn.begin() + 7);
    Data file(id_rn), out(Bytes{1, 2, 3});
    ASSERT_EQ(eidGetIdRnPhotoHash(&file, &out), 0);
    EXPECT_EQ(out.bytes(), hash);

    // The old hash is released before the identity file is looked at.
    Data empty;
    EXPECT_EQ(eidGetIdRnPhotoHash(&empty, &out), -1);
    EXPECT_TRUE(is_empty_S_EID_DATA(&out));
    Data shorter(Bytes(19, 7));
    EXPECT_EQ(eidGetIdRnPhotoHash(&shorter, &out), -1);
    EXPECT_EQ(eidGetIdRnPhotoHash(nullptr, &out), -1);
    EXPECT_EQ(eidGetIdRnPhotoHash(&file, nullptr), -1);
}

TEST(CertFileNames, DirectoryIdentifierDefaultAndBounds) {
    Records r;
    EidCertFileNames names{};
    eidInit(play_server, "/d/");
    ASSERT_EQ(eidMakeCertFileNames(&r.out, &names), 0);
    EXPECT_STREQ(names.cert8, "/d/DEFAULT_cert8.pem");
    fill(r.out.id_transaction, Bytes{'T', '-', '1'});
    ASSERT_EQ(eidMakeCertFileNames(&r.out, &names), 0);
    EXPECT_STREQ(names.cert2, "/d/T-1_cert2.pem");
    EXPECT_STREQ(names.cert6, "/d/T-1_cert6.pem");
    fill(r.out.id_transaction, Bytes{'a', '/', 'b'});
    ASSERT_EQ(eidMakeCertFileNames(&r.out, &names), 0);
    EXPECT_STREQ(names.cert3, "/d/DEFAULT_cert3.pem");

    const std::string dir(EID_CERT_FILE_NAME_SIZE - std::strlen("DEFAULT_cert2.pem"), 'd');
    eidInit(play_server, dir.c_str());
    free_S_EID_DATA(&r.out.id_transaction);
    EXPECT_EQ(eidMakeCertFileNames(&r.out, &names), -1);
    EXPECT_STREQ(names.cert2, "");
    eidInit(play_server, dir.substr(1).c_str());
    EXPECT_EQ(eidMakeCertFileNames(&r.out, &names), 0);
    EXPECT_EQ(std::strlen(names.cert2), EID_CERT_FILE_NAME_SIZE - 1);
}

TEST(CertFileNames, IdentifierIsJudgedInAsciiWhateverTheHostsLocale) {
    const kit::test::ProcessLocale latin1(kit::test::kLatin1Locale);
    ASSERT_TRUE(latin1.ok());
    ASSERT_NE(std::isalnum(0xE9), 0) << "in this locale the C library takes 0xE9 for a letter";
    Records r;
    EidCertFileNames names{};
    eidInit(play_server, "/d/");
    fill(r.out.id_transaction, Bytes{'c', 'a', 'f', 0xE9});
    ASSERT_EQ(eidMakeCertFileNames(&r.out, &names), 0);
    EXPECT_STREQ(names.cert2, "/d/DEFAULT_cert2.pem");
}

TEST(ReaderSelection, LongNamesRefusedAndTransactionsNeedAReader) {
    std::string name(EID_READER_NAME_SIZE, 'r');
    EXPECT_EQ(eidOpenReader(name.c_str()), -1);
    int handle = 5;
    EXPECT_EQ(eidOpenReaderB(name.c_str(), &handle), 0);
    EXPECT_EQ(handle, -1);
    EXPECT_STREQ(eid_selected_reader_name(), "");

    Records r;
    r.in.function_id = PUB_DATA_VER_OFFLINE;
    TraceCapture trace;
    EXPECT_EQ(eidPubDataVerify(HCL_DEVICE_HANDLE, &r.in, &r.out), EID_NO_READER_SELECTED);
    EXPECT_EQ(eidPubDataCapture(HCL_DEVICE_HANDLE, &r.in, &r.out), EID_NO_READER_SELECTED);
    EXPECT_EQ(eidPubDataCaptureIdentify(HCL_DEVICE_HANDLE, &r.in, &r.out), EID_NO_READER_SELECTED);
    Data id;
    EXPECT_EQ(eidGetCardIdentifier(HCL_DEVICE_HANDLE, &id), EID_NO_READER_SELECTED);
    const std::string traced = trace.take();
    EXPECT_NE(traced.find("ERROR in eidPubDataVerify(). No smartcard reader selected, char * reader_name is empty"),
              std::string::npos);
    EXPECT_NE(traced.find("ERROR in eidGetCardIdentifier(). No smartcard reader selected"), std::string::npos);
    EXPECT_EQ(r.out.function_id, 0);
}

TEST(CardCache, SaveKeepsSlotsOfEmptyMembersAndLeavesOutOversizedItems) {
    auto cache = std::make_unique<S_EID_CARD_CACHE>();
    std::memset(cache.get(), 0, sizeof *cache);
    Records first;
    fill(first.out.id_rn, Bytes(200, 1));
    fill(first.out.id_photo, Bytes(3000, 2));
    fill(first.out.cert8, Bytes(900, 3), 8);
    fill(first.out.id_card, Bytes(20, 4));
    eidSaveToCardCache(cache.get(), &first.out);
    EXPECT_EQ(cache->id_rn_len, 200u);
    EXPECT_EQ(cache->id_photo_len, 3000u);
    EXPECT_EQ(cache->cert8_len, 900u);
    EXPECT_EQ(cache->id_card_len, 20u);
    EXPECT_EQ(cache->id_photo[2999], 2);

    Records second;  // no photo: the previous card's photo stays
    fill(second.out.id_rn, Bytes(257, 9));       // over its slot
    fill(second.out.cert8, Bytes(2049, 9), 8);  // over its slot
    fill(second.out.id_address, Bytes(256, 5));
    eidSaveToCardCache(cache.get(), &second.out);
    EXPECT_EQ(cache->id_photo_len, 3000u);
    EXPECT_EQ(cache->id_rn_len, 0u);
    EXPECT_EQ(cache->cert8_len, 0u);
    EXPECT_EQ(cache->id_address_len, 256u);
    EXPECT_EQ(cache->sgn_rn_len, 0u);
}

// The members a cache load may fill, each with bytes of its own.
struct CachedMember {
    const char* name;
    unsigned char fill;
    std::size_t size;
    uint32_t number;  // certificates only
};
const CachedMember kCachedMembers[] = {
    {"id_rn", 1, 100, 0},       {"id_address", 2, 50, 0},   {"id_photo", 3, 1000, 0}, {"sgn_rn", 4, 128, 0},
    {"sgn_address", 5, 128, 0}, {"cert2", 6, 700, 2},       {"cert3", 7, 701, 3},     {"cert4", 8, 702, 4},
    {"cert6", 9, 703, 6},       {"cert8", 10, 704, 8},
};

S_EID_DATA* data_member(S_EID_FUNCTION_OUTPUT& out, const std::string& name) {
    if (name == "id_rn") return &out.id_rn;
    if (name == "id_address") return &out.id_address;
    if (name == "id_photo") return &out.id_photo;
    if (name == "sgn_rn") return &out.sgn_rn;
    if (name == "sgn_address") return &out.sgn_address;
    return nullptr;
}
S_EID_CERT* cert_member(S_EID_FUNCTION_OUTPUT& out, const std::string& name) {
    if (name == "cert2") return &out.cert2;
    if (name == "cert3") return &out.cert3;
    if (name == "cert4") return &out.cert4;
    if (name == "cert6") return &out.cert6;
    if (name == "cert8") return &out.cert8;
    return nullptr;
}

// A cache holding every member, and the names of the members a load put
// into out, each checked against the bytes (and number) it was saved with.
std::unique_ptr<S_EID_CARD_CACHE> full_cache() {
    auto cache = std::make_unique<S_EID_CARD_CACHE>();
    std::memset(cache.get(), 0, sizeof *cache);
    Records full;
    for (const auto& m : kCachedMembers) {
        const Bytes bytes(m.size, m.fill);
        if (m.number == 0) fill(*data_member(full.out, m.name), bytes);
        else fill(*cert_member(full.out, m.name), bytes, 99);
    }
    eidSaveToCardCache(cache.get(), &full.out);
    return cache;
}
std::vector<std::string> loaded(S_EID_FUNCTION_OUTPUT& out) {
    std::vector<std::string> names;
    for (const auto& m : kCachedMembers) {
        const Bytes expected(m.size, m.fill);
        if (m.number == 0) {
            const S_EID_DATA& d = *data_member(out, m.name);
            if (is_empty_S_EID_DATA(&d)) continue;
            EXPECT_EQ(bytes_of(d), expected) << m.name;
        } else {
            const S_EID_CERT& c = *cert_member(out, m.name);
            if (is_empty_S_EID_CERT(&c)) continue;
            EXPECT_EQ(Bytes(c.crt, c.crt + c.crt_len), expected) << m.name;
            EXPECT_EQ(c.no, m.number) << m.name;
            EXPECT_EQ(c.dsc, nullptr) << m.name;
        }
        names.emplace_back(m.name);
    }
    return names;
}

// One group of the load: a function code bit, or a request mask and the
// bits of it that select the group, and the members it fills (in the
// order of kCachedMembers).
struct CacheGroup {
    int mask;  // -1: the bits are of the function code
    int32_t bits;
    std::vector<std::string> members;
};
const CacheGroup kCacheGroups[] = {
    {-1, 0x1000000, {"id_rn", "id_address", "id_photo"}},
    {-1, 0x100000, {"id_rn", "id_address"}},
    {-1, 0x200000, {"id_rn", "id_address", "sgn_rn", "sgn_address", "cert8"}},
    {-1, 0x400000, {"cert2", "cert4", "cert6"}},
    {-1, 0x800000, {"cert3", "cert4", "cert6"}},
    {0, 0x60000, {"id_rn", "id_address"}},
    {1, 0x924, {"id_rn", "id_address", "sgn_rn", "sgn_address", "cert8"}},
    {3, 0x80000, {"id_photo"}},
    {4, 0x4124, {"id_photo", "sgn_rn", "cert8"}},
    {5, 0x20 | 0x100, {"cert2"}},
    {5, 0x4, {"cert2", "cert4", "cert6"}},
    {6, 0x20 | 0x100, {"cert3"}},
    {6, 0x4, {"cert3", "cert4", "cert6"}},
    {7, 0x20 | 0x100, {"cert4"}},
    {8, 0x20 | 0x100, {"cert6"}},
    {9, 0x20 | 0x100, {"cert8"}},
};

TEST(CardCache, EachGroupLoadsItsMembersUnderEachOfItsBits) {
    const auto cache = full_cache();
    for (const CacheGroup& group : kCacheGroups) {
        for (int32_t bit = 1; bit > 0; bit <<= 1) {
            if ((group.bits & bit) == 0) continue;
            SCOPED_TRACE((group.mask < 0 ? std::string("function code") : "mask " + std::to_string(group.mask)) +
                         " bit " + std::to_string(bit));
            Records r;
            if (group.mask < 0) r.in.function_id = bit;
            else r.in.request_mask[group.mask] = bit;
            eidLoadFromCardCache(cache.get(), &r.in, &r.out);
            EXPECT_EQ(loaded(r.out), group.members);
        }
    }
}

TEST(CardCache, BitsOfNoGroupLoadNothingAndFilledMembersStay) {
    const auto cache = full_cache();
    Records none;
    none.in.function_id = ~(0x1000000 | 0x100000 | 0x200000 | 0x400000 | 0x800000);
    const int32_t group_bits[EID_REQUEST_MASKS] = {0x60000, 0x924, 0,     0x80000, 0x4124,
                                                   0x124,   0x124, 0x120, 0x120,   0x120};
    for (int i = 0; i < EID_REQUEST_MASKS; ++i) none.in.request_mask[i] = ~group_bits[i];
    eidLoadFromCardCache(cache.get(), &none.in, &none.out);
    EXPECT_TRUE(loaded(none.out).empty());

    Records filled;
    filled.in.function_id = PUB_DATA_VER_ONLINE;
    filled.in.request_mask[4] = 0x4124;
    fill(filled.out.sgn_rn, Bytes(3, 0x77));
    fill(filled.out.cert8, Bytes(5, 0x78), 8);
    eidLoadFromCardCache(cache.get(), &filled.in, &filled.out);
    EXPECT_EQ(bytes_of(filled.out.sgn_rn), Bytes(3, 0x77));
    EXPECT_EQ(filled.out.cert8.crt_len, 5u);
    EXPECT_EQ(filled.out.id_photo.dta_len, 1000u);

    // An empty slot leaves its member empty.
    auto partial = std::make_unique<S_EID_CARD_CACHE>();
    std::memset(partial.get(), 0, sizeof *partial);
    Records some;
    fill(some.out.id_rn, Bytes(10, 1));
    eidSaveToCardCache(partial.get(), &some.out);
    Records load;
    load.in.function_id = PUB_DATA_VER_ONLINE;
    eidLoadFromCardCache(partial.get(), &load.in, &load.out);
    EXPECT_EQ(load.out.id_rn.dta_len, 10u);
    EXPECT_TRUE(is_empty_S_EID_DATA(&load.out.id_address));
    EXPECT_TRUE(is_empty_S_EID_CERT(&load.out.cert8));
}

TEST(ControllerTables, MasksDecideWhichRowsRun) {
    Records r;
    EidCertFileNames names{};
    EidTable failed = EidTable::CcvCheck;
    // Nothing asked: no row runs (the handle reaches no card).
    EXPECT_EQ(eidRunControllerTables(HCL_DEVICE_HANDLE, &r.in, &r.out, &names, EidTable::CcvCheck, &failed), 0);
    EXPECT_TRUE(is_empty_S_EID_DATA(&r.out.id_rn));

    // Offline bits in mask 1: no read row, the save row finds no cert 8,
    // the identity check runs on empty records and fails.
    r.in.request_mask[1] = 0x2492;
    TraceCapture trace;
    EXPECT_EQ(eidRunControllerTables(HCL_DEVICE_HANDLE, &r.in, &r.out, &names, EidTable::CcvCheck, &failed), 1010);
    EXPECT_EQ(failed, EidTable::VerifySgn);
    EXPECT_NE(trace.take().find("controler.error_code_eidverify = 1010"), std::string::npos);

    // Filled targets are not read again; a bit outside every row runs nothing.
    Records filled;
    filled.in.request_mask[0] = 0x20000;
    filled.in.request_mask[2] = 0x36DB;
    filled.in.request_mask[3] = 0x1;
    fill(filled.out.id_rn, Bytes(10, 1));
    fill(filled.out.id_address, Bytes(10, 2));
    EXPECT_EQ(eidRunControllerTables(HCL_DEVICE_HANDLE, &filled.in, &filled.out, &names, EidTable::CcvCheck, &failed),
              0);

    // A read row that is asked for and fails gives its code.
    filled.in.request_mask[3] = 0x80000;
    EXPECT_EQ(eidRunControllerTables(HCL_DEVICE_HANDLE, &filled.in, &filled.out, &names, EidTable::CcvCheck, &failed),
              1006);
    EXPECT_EQ(failed, EidTable::ReadPubData);
}

TEST(ControllerTables, SaveRowsSkipNamedCertificates) {
    Records r;
    r.in.request_mask[5] = 0x2492;
    fill(r.out.cert2, Bytes(10, 1), 2);
    r.out.cert2.dsc = static_cast<char*>(calloc(8, 1));
    std::strcpy(r.out.cert2.dsc, "old.pem");
    r.out.cert2.dsc_len = 7;
    EidCertFileNames names{};
    std::strcpy(names.cert2, "/nonexistent-dir/x.pem");
    EidSaveTable table{};
    eidBuildSaveX509Table(&r.in, &r.out, &names, table);
    EXPECT_EQ(eidSaveX509Controler(table[0]), 0);  // already named: not written again
    free(r.out.cert2.dsc);
    r.out.cert2.dsc = nullptr;
    r.out.cert2.dsc_len = 0;
    EXPECT_EQ(eidSaveX509Controler(table[0]), 1024);  // bytes that are no certificate

}


// What a certificate-status operation was handed.
struct StatusCall {
    int calls = 0;
    const S_EID_CERT* certificate = nullptr;
    int* status = nullptr;
} status_call;

int failing_status_check(const S_EID_CERT* certificate, int* status) {
    ++status_call.calls;
    status_call.certificate = certificate;
    status_call.status = status;
    return 7;
}

// The two certificate-status tables no transaction runs: each row's mask
// entry and bit select it alone, and it hands its certificate and status to
// the operation and answers its own code, through both dispatchers.
TEST(ControllerTables, CertificateStatusRowsSelectTheirCertificateAndCode) {
    struct Row {
        int mask_index;
        int32_t bit;
        S_EID_CERT S_EID_FUNCTION_OUTPUT::*certificate;
        int number;
        int S_EID_FUNCTION_OUTPUT::*status;
        int code;
    };
    const std::vector<Row> status_rows{
        {5, 0x2492, &S_EID_FUNCTION_OUTPUT::cert2, 2, &S_EID_FUNCTION_OUTPUT::cert2_stat, 1014},
        {6, 0x2492, &S_EID_FUNCTION_OUTPUT::cert3, 3, &S_EID_FUNCTION_OUTPUT::cert3_stat, 1015},
        {7, 0x2492, &S_EID_FUNCTION_OUTPUT::cert4, 4, &S_EID_FUNCTION_OUTPUT::cert4_stat, 1016},
        {8, 0x2492, &S_EID_FUNCTION_OUTPUT::cert6, 6, &S_EID_FUNCTION_OUTPUT::cert6_stat, 1017},
        {9, 0x2492, &S_EID_FUNCTION_OUTPUT::cert8, 8, &S_EID_FUNCTION_OUTPUT::cert8_stat, 1018}};
    const std::vector<Row> aux_rows{
        {5, 0x100, &S_EID_FUNCTION_OUTPUT::cert2, 2, &S_EID_FUNCTION_OUTPUT::cert2_aux_stat, 1020},
        {6, 0x100, &S_EID_FUNCTION_OUTPUT::cert3, 3, &S_EID_FUNCTION_OUTPUT::cert3_aux_stat, 1021}};

    const auto drive = [](const std::vector<Row>& expected, auto build) {
        for (std::size_t chosen = 0; chosen < expected.size(); ++chosen) {
            SCOPED_TRACE("row " + std::to_string(chosen + 1));
            Records r;
            r.in.request_mask[expected[chosen].mask_index] = expected[chosen].bit;
            const auto table = build(r);
            ASSERT_EQ(table.size(), expected.size());
            for (std::size_t i = 0; i < table.size(); ++i) {
                auto row = table[i];
                EXPECT_EQ(row.number, expected[i].number);
                EXPECT_EQ(row.operation(row.certificate, row.status), 0);  // the built operation does nothing
                row.operation = failing_status_check;
                const Row& want = expected[i];
                const int code = i == chosen ? want.code : 0;
                status_call = {};
                TraceCapture trace;
                EXPECT_EQ(eidCrlCheckControler(row), code) << i;
                EXPECT_EQ(trace.take().find("controler.error_code_crl_check = " + std::to_string(want.code)) !=
                              std::string::npos,
                          i == chosen);
                EXPECT_EQ(eidCrlCheckControlerSilent(row), code) << i;
                EXPECT_EQ(trace.take(), "");
                EXPECT_EQ(status_call.calls, i == chosen ? 2 : 0) << i;
                if (i == chosen) {
                    EXPECT_EQ(status_call.certificate, &(r.out.*want.certificate));
                    EXPECT_EQ(status_call.status, &(r.out.*want.status));
                }
            }
        }
    };
    drive(status_rows, [](Records& r) {
        EidCertStatusTable table{};
        EXPECT_EQ(eidBuildCertStatusTable(&r.in, &r.out, table), 0);
        return table;
    });
    drive(aux_rows, [](Records& r) {
        EidCertAuxStatusTable table{};
        EXPECT_EQ(eidBuildCertAuxStatusTable(&r.in, &r.out, table), 0);
        return table;
    });
}

// Reads that succeed with no bytes, as a card file of zeros or of nothing
// does; counted.
int g_reads = 0;
int read_empty_file(int, S_EID_DATA* target) {
    ++g_reads;
    target->dta = new_eid_buffer(nullptr, 0);
    target->dta_len = 0;
    return 0;
}
int read_empty_cert(int, unsigned int number, S_EID_CERT* target) {
    ++g_reads;
    target->crt = new_eid_buffer(nullptr, 0);
    target->crt_len = 0;
    target->no = number;
    return 0;
}

TEST(ControllerTables, AFileOrCertificateReadEmptyIsNotReadAgain) {
    Records r;
    r.in.request_mask[0] = 0x60000;
    r.in.request_mask[1] = 0x924;
    EidReadFileTable files{};
    eidBuildReadPubDataTable(HCL_DEVICE_HANDLE, &r.in, &r.out, files);
    g_reads = 0;
    for (auto row : files) {
        row.operation = read_empty_file;
        EXPECT_EQ(eidReadPubDataControler(row), 0);
    }
    // Identity, address and their two signatures, each once (rows 9 and 10
    // ask for the two files again).
    EXPECT_EQ(g_reads, 4);

    r.in.request_mask[5] = 0x4;
    r.in.request_mask[6] = 0x4;
    r.in.request_mask[8] = 0x124;
    EidReadCertTable certs{};
    eidBuildReadCertTable(HCL_DEVICE_HANDLE, &r.in, &r.out, certs);
    g_reads = 0;
    for (auto row : certs) {
        row.operation = read_empty_cert;
        EXPECT_EQ(eidReadCertControler(row), 0);
    }
    // Certificates 2, 3, 4, 6 and 8, each once (4 and 6 asked three times).
    EXPECT_EQ(g_reads, 5);
}

}  // namespace
