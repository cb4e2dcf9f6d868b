#include "tarvik/engine/eid_tllv.h"

#include "engine_test_util.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string str(const unsigned char* p, uint32_t n) { return {reinterpret_cast<const char*>(p), n}; }

void fill(S_EID_DATA& d, const std::string& s) {
    ASSERT_EQ(init_S_EID_DATA(&d, reinterpret_cast<const unsigned char*>(s.data()), static_cast<int32_t>(s.size()),
                              nullptr, 0),
              0);
}

// Fresh records and a selector with every flag 0; freed at the end.
struct TllvRecords : ::testing::Test {
    S_EID_FUNCTION_INPUT in{};
    S_EID_FUNCTION_OUTPUT out{};
    S_EID_TLLV_SELECTOR sel{};
    void SetUp() override {
        init_S_EID_FUNCTION_INPUT(&in);
        init_S_EID_FUNCTION_OUTPUT(&out);
    }
    void TearDown() override {
        free_S_EID_FUNCTION_INPUT(&in);
        free_S_EID_FUNCTION_OUTPUT(&out);
    }
    Bytes encode() {
        uint32_t length = 12345;
        unsigned char* buffer = eidStructs2TLLV(&in, &out, &sel, &length);
        if (buffer == nullptr) {
            EXPECT_EQ(length, 0u);
            return {};
        }
        EXPECT_EQ(buffer[length], 0) << "zero byte after the items";
        Bytes bytes(buffer, buffer + length);
        std::free(buffer);
        return bytes;
    }
    int decode(const Bytes& reply) { return eidTLLV2Structs(reply.data(), static_cast<uint32_t>(reply.size()), &in, &out, &sel); }
    int decode_into(::Records& target, const Bytes& reply) {
        return eidTLLV2Structs(reply.data(), static_cast<uint32_t>(reply.size()), &target.in, &target.out, &sel);
    }
};

using TllvEncode = TllvRecords;
using TllvDecode = TllvRecords;

TEST_F(TllvEncode, FunctionIdAlone) {
    out.function_id = 0x401241;
    sel.function_id = 1;
    EXPECT_EQ(encode(), (Bytes{0x01, 0x04, 0x00, 0x41, 0x12, 0x40, 0x00}));
}

TEST_F(TllvEncode, SelectedItemsInTableOrderAndEmptyStringsSkipped) {
    fill(out.id_transaction, "ABC");
    fill(out.id_photo, "\xFF");
    fill(out.id_rn_photo_hash, std::string("\x01\x02", 2));
    fill(out.id_rn, "not selected");
    const unsigned char der[] = {0x30, 0x00};
    ASSERT_EQ(init_S_EID_CERT(&out.cert6, der, 2, 6, nullptr, 0), 0);
    out.auth_stat = -1;
    in.request_mask[2] = 0x0102;
    sel.id_transaction = sel.id_photo = sel.id_rn_photo_hash = sel.certs = sel.auth_stat = 1;
    sel.id_session = 1;    // empty: not sent
    sel.request_mask = 0;  // integers not selected: not sent
    sel.aux_166 = -3;      // not greater than 0: not selected
    fill(out.aux_166, "x");
    EXPECT_EQ(encode(), (Bytes{0x04, 0x03, 0x00, 'A', 'B', 'C',          // id_transaction
                               0x3A, 0x01, 0x00, 0xFF,                   // id_photo (58)
                               0x3B, 0x02, 0x00, 0x01, 0x02,             // id_rn_photo_hash (59)
                               0x68, 0x02, 0x00, 0x30, 0x00,             // cert6 (104)
                               0x94, 0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));  // auth_stat (148)

    sel = {};
    sel.request_mask = 1;
    const Bytes masks = encode();
    ASSERT_EQ(masks.size(), 70u) << "ten masks, always sent, zero or not";
    EXPECT_EQ(Bytes(masks.begin() + 14, masks.begin() + 21), (Bytes{0x08, 0x04, 0x00, 0x02, 0x01, 0x00, 0x00}));
}

TEST_F(TllvEncode, ThirtyTwoCharacterTransactionAndNothingSelected) {
    const std::string id(32, 'T');
    fill(out.id_transaction, id);
    out.function_id = 7;
    EXPECT_EQ(encode(), Bytes{}) << "all flags 0";
    sel.id_transaction = 1;
    Bytes expected{0x04, 0x20, 0x00};
    expected.insert(expected.end(), id.begin(), id.end());
    EXPECT_EQ(encode(), expected);
}

TEST_F(TllvEncode, LimitOf13000BytesWithHeaders) {
    TraceCapture trace;
    sel.id_rn = 1;
    fill(out.id_rn, std::string(12997, 'r'));
    EXPECT_EQ(encode().size(), 13000u);
    EXPECT_EQ(trace.take(), "");
    free_S_EID_DATA(&out.id_rn);
    fill(out.id_rn, std::string(12998, 'r'));
    EXPECT_EQ(encode(), Bytes{});
    const std::string log = trace.take();
    EXPECT_NE(log.find("ERROR in data2tllv, unsigned int is too small"), std::string::npos);
    EXPECT_NE(log.find("ERROR in eidStructs2TLLV while calling data2tllv"), std::string::npos);
}

TEST_F(TllvEncode, MemberTooLongForTheLengthFieldFailsInsteadOfBeingCut) {
    TraceCapture trace;
    // 65,536 + 5 bytes would be sent as a 5-byte item if the length were cut to 16 bits.
    fill(out.sgn_rn, std::string(65541, 's'));
    sel.function_id = 1;
    EXPECT_EQ(encode().size(), 7u) << "an unselected long member does not matter";
    sel.sgn_rn = 1;
    EXPECT_EQ(encode(), Bytes{});
    EXPECT_NE(trace.take().find("longer than 65535"), std::string::npos);
}

TEST_F(TllvEncode, NullArgumentsGiveNoBuffer) {
    TraceCapture trace;
    uint32_t length = 0;
    EXPECT_EQ(eidStructs2TLLV(nullptr, &out, &sel, &length), nullptr);
    EXPECT_EQ(eidStructs2TLLV(&in, nullptr, &sel, &length), nullptr);
    EXPECT_EQ(eidStructs2TLLV(&in, &out, nullptr, &length), nullptr);
    EXPECT_EQ(eidStructs2TLLV(&in, &out, &sel, nullptr), nullptr);
    const std::string log = trace.take();
    for (const char* m : {"ERROR in eidStructs2TLLV, S_EID_FUNCTION_INPUT * is NULL",
                          "ERROR in eidStructs2TLLV, S_EID_FUNCTION_OUTPUT * is NULL",
                          "ERROR in eidStructs2TLLV, S_EID_TLLV_SELECTOR * is NULL",
                          "ERROR in eidStructs2TLLV, unsigned int * is NULL"})
        EXPECT_NE(log.find(m), std::string::npos) << m;
    EXPECT_EQ(init_S_EID_TLLV_SELECTOR(nullptr), -1);
    EXPECT_NE(trace.take().find("ERROR: in init_S_EID_TLLV_SELECTOR(...), S_EID_TLLV_SELECTOR is NULL"),
              std::string::npos);
}

TEST(TllvWriter, TooSmallDestinationWritesNothing) {
    int32_t value = 0x01020304;
    const S_EID_TLLV_TAG rows[] = {{9, 4, &value, TLLV_KIND_INTEGER, 1}, {200, 0, &value, TLLV_KIND_BYTES, 1},
                                   {3, 2, &value, TLLV_KIND_BYTES, 0}};
    unsigned char dest[8];
    std::memset(dest, 0xEE, sizeof dest);
    uint32_t written = 99;
    EXPECT_EQ(data2tllv(rows, 3, dest, 6, &written), -1);
    EXPECT_EQ(dest[0], 0xEE);
    EXPECT_EQ(data2tllv(rows, 3, dest, 7, &written), 0);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(Bytes(dest, dest + 8), (Bytes{9, 4, 0, 4, 3, 2, 1, 0xEE}));
    EXPECT_EQ(data2tllv(nullptr, 3, dest, 7, &written), -1);
    EXPECT_EQ(data2tllv(rows, 3, nullptr, 7, &written), -1);
}

TEST_F(TllvDecode, TransactionIdentifierReplacesWhatTheMemberHeld) {
    fill(out.id_transaction, "old value");  // released on replacement (LeakSanitizer)
    sel.id_transaction = 1;
    Bytes reply{0x04, 0x20, 0x00};
    const std::string id = "0123456789abcdef0123456789ABCDEF";
    reply.insert(reply.end(), id.begin(), id.end());
    ASSERT_EQ(decode(reply), 0);
    ASSERT_EQ(out.id_transaction.dta_len, 32u);
    EXPECT_EQ(str(out.id_transaction.dta, 33), id + std::string(1, '\0'));
}

TEST_F(TllvDecode, IntegersAreLittleEndianAndMustBeFourBytes) {
    TraceCapture trace;
    sel.function_id = sel.request_mask = sel.id_transaction = 1;
    out.function_id = 5;
    ASSERT_EQ(decode({0x01, 0x04, 0x00, 0x41, 0x12, 0x40, 0x00, 0x0F, 0x04, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}), 0);
    EXPECT_EQ(out.function_id, 0x401241);
    EXPECT_EQ(in.request_mask[9], -2);

    // A 2-byte integer is refused, and nothing after it is stored.
    ASSERT_EQ(decode({0x01, 0x02, 0x00, 0x11, 0x22, 0x04, 0x01, 0x00, 'x'}), 0);
    EXPECT_EQ(out.function_id, 0x401241);
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_transaction), 1);
    EXPECT_NE(trace.take().find("length is not 4"), std::string::npos);
    ASSERT_EQ(decode({0x06, 0x08, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}), 0);
    EXPECT_EQ(in.request_mask[0], 0);
}

TEST_F(TllvDecode, InOrderMatchingStopsAtTheFirstItemNoRowTakes) {
    sel.id_transaction = sel.id_rn = sel.id_address = sel.certs = 1;
    // 56 before 4: 56 is taken, 4 cannot be (its row is behind), so 57 is not stored either.
    ASSERT_EQ(decode({56, 1, 0, 'R', 4, 1, 0, 'T', 57, 1, 0, 'A'}), 0);
    EXPECT_EQ(str(out.id_rn.dta, out.id_rn.dta_len), "R");
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_transaction), 1);
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_address), 1);

    // An unselected tag (58) stops the storing there; a repeated tag too.
    ASSERT_EQ(decode({4, 1, 0, 'T', 58, 1, 0, 'P', 57, 1, 0, 'A'}), 0);
    EXPECT_EQ(str(out.id_transaction.dta, 1), "T");
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_photo), 1);
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_address), 1);
    ASSERT_EQ(decode({56, 1, 0, 'X', 56, 1, 0, 'Y', 57, 1, 0, 'A'}), 0);
    EXPECT_EQ(str(out.id_rn.dta, 1), "X");
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_address), 1);

    // Skipped rows do no harm; a certificate keeps its number and file name.
    ASSERT_EQ(init_S_EID_CERT(&out.cert2, nullptr, 0, 2, "c.pem", 5), 0);
    ASSERT_EQ(decode({57, 0, 0, 101, 2, 0, 0x30, 0x00, 105, 1, 0, 0x31}), 0);
    EXPECT_EQ(out.id_address.dta_len, 0u);
    ASSERT_NE(out.id_address.dta, nullptr);
    EXPECT_EQ(out.id_address.dta[0], 0);
    EXPECT_EQ(str(out.cert2.crt, out.cert2.crt_len), std::string("\x30\x00", 2));
    EXPECT_EQ(out.cert2.no, 2u);
    EXPECT_STREQ(out.cert2.dsc, "c.pem");
    EXPECT_EQ(str(out.cert8.crt, 2), std::string("\x31\x00", 2));
    EXPECT_EQ(out.cert8.no, 0u);
}

TEST_F(TllvDecode, ItemsRunningPastTheReceivedBytesEndDecoding) {
    sel.id_transaction = sel.id_session = sel.id_rn = 1;
    // The value of the third item claims 9 bytes; only 2 follow.
    Bytes reply{4, 1, 0, 'T', 5, 2, 0, 'S', 'S', 56, 9, 0, 'a', 'b'};
    ASSERT_EQ(decode(reply), 0);
    EXPECT_EQ(str(out.id_transaction.dta, 1), "T");
    EXPECT_EQ(str(out.id_session.dta, 2), "SS");
    EXPECT_EQ(is_empty_S_EID_DATA(&out.id_rn), 1);

    // A header cut after its tag, and a 0 tag, end the list as well. The
    // received length, not the buffer, bounds the reading (ASan checks).
    for (const Bytes& r : {Bytes{56, 1, 0, 'N', 4}, Bytes{56, 1}, Bytes{0, 1, 0, 'x'}}) {
        auto* exact = static_cast<unsigned char*>(std::malloc(r.size()));
        std::memcpy(exact, r.data(), r.size());
        uint32_t parsed = 77;
        S_EID_TLLV_TAG row{56, 0, &out.id_rn, TLLV_KIND_DATA, 1};
        EXPECT_EQ(tllv2data(exact, static_cast<uint32_t>(r.size()), &row, 1, &parsed), 0);
        EXPECT_EQ(parsed, r.size() == 5 ? 1u : 0u);
        std::free(exact);
    }
    EXPECT_EQ(str(out.id_rn.dta, 1), "N");
}

TEST_F(TllvDecode, ParsingIsBoundedByTheRowCountAndNullArgumentsFail) {
    TraceCapture trace;
    Bytes many;
    for (int i = 0; i < 200; ++i) many.insert(many.end(), {0xC8, 0, 0});
    S_EID_TLLV_TAG row{0xC8, 0, nullptr, 0, 1};
    uint32_t parsed = 0;
    EXPECT_EQ(tllv2data(many.data(), static_cast<uint32_t>(many.size()), &row, 1, &parsed), 0);
    EXPECT_EQ(parsed, 1u);
    std::vector<S_EID_TLLV_TAG> rows(300, row);
    EXPECT_EQ(tllv2data(many.data(), static_cast<uint32_t>(many.size()), rows.data(), 300, &parsed), 0);
    EXPECT_EQ(parsed, 128u);

    EXPECT_EQ(tllv2data(nullptr, 3, &row, 1, &parsed), -1);
    EXPECT_EQ(tllv2data(many.data(), 3, nullptr, 1, &parsed), -1);
    EXPECT_EQ(eidTLLV2Structs(nullptr, 3, &in, &out, &sel), -1);
    const std::string log = trace.take();
    EXPECT_NE(log.find("ERROR in tllv_data, unsigned char * is NULL"), std::string::npos);
    EXPECT_NE(log.find("ERROR in tllv_data, S_EID_TLLV_TAG * is NULL"), std::string::npos);
    EXPECT_NE(log.find("ERROR in eidTLLV2Structs while calling tllv2data"), std::string::npos);
}

// Everything the table carries comes back unchanged after a trip through both directions.
// The wire table, written out from the protocol's own table (not from the
// code): tag, the selector flag that sends or accepts it, the member and how
// it travels, in table order.
enum class Kind { Integer, String, Certificate };
using MemberOf = void* (*)(S_EID_FUNCTION_INPUT&, S_EID_FUNCTION_OUTPUT&);
struct WireRow {
    int tag;
    int32_t S_EID_TLLV_SELECTOR::*flag;
    Kind kind;
    MemberOf member;
};

#define WIRE(tag, flag, kind, member)                                                          \
    WireRow {                                                                                  \
        tag, &S_EID_TLLV_SELECTOR::flag, Kind::kind,                                           \
            [](S_EID_FUNCTION_INPUT & in, S_EID_FUNCTION_OUTPUT & out) -> void* {              \
                (void)in;                                                                      \
                (void)out;                                                                     \
                return &(member);                                                              \
            }                                                                                  \
    }

const std::vector<WireRow>& wire_table() {
    static const std::vector<WireRow> rows{
        WIRE(1, function_id, Integer, out.function_id),
        WIRE(2, id_reference, String, out.id_reference),
        WIRE(4, id_transaction, String, out.id_transaction),
        WIRE(5, id_session, String, out.id_session),
        WIRE(6, request_mask, Integer, in.request_mask[0]),
        WIRE(7, request_mask, Integer, in.request_mask[1]),
        WIRE(8, request_mask, Integer, in.request_mask[2]),
        WIRE(9, request_mask, Integer, in.request_mask[3]),
        WIRE(10, request_mask, Integer, in.request_mask[4]),
        WIRE(11, request_mask, Integer, in.request_mask[5]),
        WIRE(12, request_mask, Integer, in.request_mask[6]),
        WIRE(13, request_mask, Integer, in.request_mask[7]),
        WIRE(14, request_mask, Integer, in.request_mask[8]),
        WIRE(15, request_mask, Integer, in.request_mask[9]),
        WIRE(56, id_rn, String, out.id_rn),
        WIRE(57, id_address, String, out.id_address),
        WIRE(58, id_photo, String, out.id_photo),
        WIRE(59, id_rn_photo_hash, String, out.id_rn_photo_hash),
        WIRE(66, id_rn_aux, String, out.id_rn_aux),
        WIRE(67, id_address_aux, String, out.id_address_aux),
        WIRE(68, id_photo_aux, String, out.id_photo_aux),
        WIRE(76, sgn_rn, String, out.sgn_rn),
        WIRE(77, sgn_address, String, out.sgn_address),
        WIRE(78, sgn_photo, String, out.sgn_photo),
        WIRE(86, id_rn_stat, Integer, out.id_rn_stat),
        WIRE(87, id_address_stat, Integer, out.id_address_stat),
        WIRE(88, id_photo_stat, Integer, out.id_photo_stat),
        WIRE(96, aux_96, String, out.aux_96),
        WIRE(101, certs, Certificate, out.cert2),
        WIRE(102, certs, Certificate, out.cert3),
        WIRE(103, certs, Certificate, out.cert4),
        WIRE(104, certs, Certificate, out.cert6),
        WIRE(105, certs, Certificate, out.cert8),
        WIRE(111, certs_aux, String, out.cert2_aux),
        WIRE(112, certs_aux, String, out.cert3_aux),
        WIRE(113, certs_aux, String, out.cert4_aux),
        WIRE(114, certs_aux, String, out.cert6_aux),
        WIRE(115, certs_aux, String, out.cert8_aux),
        WIRE(121, ccv_stat, Integer, out.cert2_ccv_stat),
        WIRE(122, ccv_stat, Integer, out.cert3_ccv_stat),
        WIRE(126, cert_aux_stat, Integer, out.cert2_aux_stat),
        WIRE(127, cert_aux_stat, Integer, out.cert3_aux_stat),
        WIRE(131, cert_stat, Integer, out.cert2_stat),
        WIRE(132, cert_stat, Integer, out.cert3_stat),
        WIRE(133, cert_stat, Integer, out.cert4_stat),
        WIRE(134, cert_stat, Integer, out.cert6_stat),
        WIRE(135, cert_stat, Integer, out.cert8_stat),
        WIRE(141, aux_141, Integer, out.aux_141),
        WIRE(146, auth_chal, String, out.auth_chal),
        WIRE(147, auth_sgn, String, out.auth_sgn),
        WIRE(148, auth_stat, Integer, out.auth_stat),
        WIRE(156, sign_hash, String, out.sign_hash),
        WIRE(157, sign_sgn, String, out.sign_sgn),
        WIRE(158, sign_stat, Integer, out.sign_stat),
        WIRE(166, aux_166, String, out.aux_166),
    };
    return rows;
}
#undef WIRE

// A value of its own for row i: a little-endian integer, or bytes of a length
// that differs from row to row.
Bytes row_value(std::size_t i, Kind kind) {
    if (kind == Kind::Integer) return {static_cast<unsigned char>(i), 0xA5, 0x00, 0x80};
    Bytes bytes(1 + i % 5, static_cast<unsigned char>(0xC0 + i));
    bytes.front() = static_cast<unsigned char>(i);
    return bytes;
}

void put(S_EID_FUNCTION_INPUT& in, S_EID_FUNCTION_OUTPUT& out, const WireRow& row, const Bytes& value) {
    void* member = row.member(in, out);
    const auto length = static_cast<int32_t>(value.size());
    switch (row.kind) {
        case Kind::Integer: std::memcpy(member, value.data(), 4); break;
        case Kind::String:
            ASSERT_EQ(init_S_EID_DATA(static_cast<S_EID_DATA*>(member), value.data(), length, nullptr, 0), 0);
            break;
        case Kind::Certificate:
            ASSERT_EQ(init_S_EID_CERT(static_cast<S_EID_CERT*>(member), value.data(), length, 0, nullptr, 0), 0);
            break;
    }
}

Bytes got(S_EID_FUNCTION_INPUT& in, S_EID_FUNCTION_OUTPUT& out, const WireRow& row) {
    void* member = row.member(in, out);
    switch (row.kind) {
        case Kind::Integer: return Bytes(static_cast<unsigned char*>(member), static_cast<unsigned char*>(member) + 4);
        case Kind::String: {
            const auto* d = static_cast<S_EID_DATA*>(member);
            return d->dta ? Bytes(d->dta, d->dta + d->dta_len) : Bytes{};
        }
        case Kind::Certificate: {
            const auto* c = static_cast<S_EID_CERT*>(member);
            return c->crt ? Bytes(c->crt, c->crt + c->crt_len) : Bytes{};
        }
    }
    return {};
}

Bytes item(const WireRow& row, const Bytes& value) {
    Bytes bytes{static_cast<unsigned char>(row.tag), static_cast<unsigned char>(value.size() & 0xFF),
                static_cast<unsigned char>(value.size() >> 8)};
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

TEST_F(TllvEncode, EveryMemberTravelsUnderItsTagAndFlag) {
    const auto& rows = wire_table();
    ASSERT_EQ(rows.size(), 55u);
    for (std::size_t i = 0; i < rows.size(); ++i) put(in, out, rows[i], row_value(i, rows[i].kind));

    // Each flag alone sends exactly its rows, in table order.
    std::vector<int32_t S_EID_TLLV_SELECTOR::*> flags;
    for (const auto& row : rows)
        if (std::find(flags.begin(), flags.end(), row.flag) == flags.end()) flags.push_back(row.flag);
    ASSERT_EQ(flags.size(), 32u);  // every flag of the selector picks rows
    Bytes everything;
    for (const auto flag : flags) {
        sel = {};
        sel.*flag = 1;
        Bytes expected;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].flag == flag) {
                const Bytes bytes = item(rows[i], row_value(i, rows[i].kind));
                expected.insert(expected.end(), bytes.begin(), bytes.end());
            }
        EXPECT_EQ(encode(), expected) << "first tag " << int(expected[0]);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Bytes bytes = item(rows[i], row_value(i, rows[i].kind));
        everything.insert(everything.end(), bytes.begin(), bytes.end());
    }
    ASSERT_EQ(init_S_EID_TLLV_SELECTOR(&sel), 0);
    EXPECT_EQ(encode(), everything);
}

TEST_F(TllvDecode, EveryTagFillsItsMemberOnlyWhenItsFlagIsSelected) {
    const auto& rows = wire_table();
    Bytes everything;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Bytes bytes = item(rows[i], row_value(i, rows[i].kind));
        everything.insert(everything.end(), bytes.begin(), bytes.end());
    }
    ASSERT_EQ(init_S_EID_TLLV_SELECTOR(&sel), 0);
    {
        ::Records target;
        ASSERT_EQ(eidTLLV2Structs(everything.data(), static_cast<uint32_t>(everything.size()), &target.in,
                                  &target.out, &sel),
                  0);
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(got(target.in, target.out, rows[i]), row_value(i, rows[i].kind)) << "tag " << rows[i].tag;
        EXPECT_EQ(target.out.cert2.no, 0u);  // a certificate's number does not travel
    }
    // One item alone: stored when its row's flag is selected, not when that flag is 0.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Bytes one = item(rows[i], row_value(i, rows[i].kind));
        ::Records target;
        sel.*rows[i].flag = 0;
        EXPECT_EQ(decode_into(target, one), 0);
        EXPECT_NE(got(target.in, target.out, rows[i]), row_value(i, rows[i].kind)) << "tag " << rows[i].tag;
        sel.*rows[i].flag = 1;
        EXPECT_EQ(decode_into(target, one), 0);
        EXPECT_EQ(got(target.in, target.out, rows[i]), row_value(i, rows[i].kind)) << "tag " << rows[i].tag;
    }
}

}  // namespace
