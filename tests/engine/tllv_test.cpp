#include "tarvik/engine/eid_tllv.h"

#include "trace_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string str(const unsigned char* p, uint32_t n) { return {reinterpret_cast<const char*>(p), n}; }

void fill(S_EID_DATA& d, const std::string& s) {
    ASSERT_EQ(init_S_EID_DATA(&d, reinterpret_cast<const unsigned char*>(s.data()), static_cast<int32_t>(s.size()),
                              nullptr, 0),
              0);
}

// Fresh records and a selector with every flag 0; freed at the end.
struct Records : ::testing::Test {
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
};

using TllvEncode = Records;
using TllvDecode = Records;

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
TEST_F(TllvDecode, FullRecordRoundTrip) {
    ASSERT_EQ(init_S_EID_TLLV_SELECTOR(&sel), 0);
    out.function_id = 0x401241;
    for (int i = 0; i < 10; ++i) in.request_mask[i] = i * 1000 - 3;
    S_EID_DATA* strings[] = {&out.id_reference, &out.id_transaction, &out.id_session, &out.id_rn,
                             &out.id_address, &out.id_photo, &out.id_rn_photo_hash, &out.id_rn_aux,
                             &out.id_address_aux, &out.id_photo_aux, &out.sgn_rn, &out.sgn_address,
                             &out.sgn_photo, &out.aux_96, &out.cert2_aux, &out.cert3_aux, &out.cert4_aux,
                             &out.cert6_aux, &out.cert8_aux, &out.auth_chal, &out.auth_sgn, &out.sign_hash,
                             &out.sign_sgn, &out.aux_166};
    int n = 0;
    for (S_EID_DATA* d : strings) fill(*d, "s" + std::to_string(n++));
    S_EID_CERT* certs[] = {&out.cert2, &out.cert3, &out.cert4, &out.cert6, &out.cert8};
    for (S_EID_CERT* c : certs) {
        const std::string der = "c" + std::to_string(n++);
        ASSERT_EQ(init_S_EID_CERT(c, reinterpret_cast<const unsigned char*>(der.data()),
                                  static_cast<int32_t>(der.size()), 2, nullptr, 0),
                  0);
    }
    int32_t* statuses[] = {&out.id_rn_stat, &out.id_address_stat, &out.id_photo_stat, &out.cert2_ccv_stat,
                           &out.cert3_ccv_stat, &out.cert2_aux_stat, &out.cert3_aux_stat, &out.cert2_stat,
                           &out.cert3_stat, &out.cert4_stat, &out.cert6_stat, &out.cert8_stat,
                           &out.aux_141, &out.auth_stat, &out.sign_stat};
    for (int32_t* s : statuses) *s = -(n++);
    const Bytes wire = encode();

    S_EID_FUNCTION_INPUT in2;
    S_EID_FUNCTION_OUTPUT out2;
    init_S_EID_FUNCTION_INPUT(&in2);
    init_S_EID_FUNCTION_OUTPUT(&out2);
    ASSERT_EQ(eidTLLV2Structs(wire.data(), static_cast<uint32_t>(wire.size()), &in2, &out2, &sel), 0);
    EXPECT_EQ(out2.function_id, out.function_id);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(in2.request_mask[i], in.request_mask[i]);
    const auto offset = [this](const void* member) {
        return static_cast<const unsigned char*>(member) - reinterpret_cast<const unsigned char*>(&out);
    };
    const auto* base2 = reinterpret_cast<const unsigned char*>(&out2);
    for (S_EID_DATA* d : strings) {
        const auto* d2 = reinterpret_cast<const S_EID_DATA*>(base2 + offset(d));
        EXPECT_EQ(str(d2->dta, d2->dta_len), str(d->dta, d->dta_len));
    }
    for (S_EID_CERT* c : certs) {
        const auto* c2 = reinterpret_cast<const S_EID_CERT*>(base2 + offset(c));
        EXPECT_EQ(str(c2->crt, c2->crt_len), str(c->crt, c->crt_len));
    }
    for (int32_t* s : statuses) EXPECT_EQ(*reinterpret_cast<const int32_t*>(base2 + offset(s)), *s);
    free_S_EID_FUNCTION_INPUT(&in2);
    free_S_EID_FUNCTION_OUTPUT(&out2);
}

}  // namespace
