#include "tarvik/engine/eid_records.h"

#include "trace_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const unsigned char kFive[] = {'h', 'e', 'l', 'l', 'o'};
const unsigned char kDsc[] = {'d', 's'};

std::string bytes_of(const unsigned char* p, uint32_t n) { return {reinterpret_cast<const char*>(p), n}; }

TEST(EidRecords, FillingFormCopiesIntoZeroTerminatedBuffers) {
    S_EID_DATA d;
    ASSERT_EQ(init_S_EID_DATA(&d), 0);
    ASSERT_EQ(init_S_EID_DATA(&d, kFive, 5, kDsc, 2), 0);
    EXPECT_EQ(d.dta_len, 5u);
    EXPECT_NE(d.dta, kFive);
    EXPECT_EQ(bytes_of(d.dta, 5), "hello");
    EXPECT_EQ(d.dta[5], 0);
    EXPECT_EQ(d.dsc_len, 2u);
    EXPECT_EQ(bytes_of(d.dsc, 3), std::string("ds\0", 3));
    EXPECT_EQ(free_S_EID_DATA(&d), 0);
    EXPECT_EQ(d.dta, nullptr);
    EXPECT_EQ(d.dsc, nullptr);
    EXPECT_EQ(d.dta_len + d.dsc_len, 0u);
}

TEST(EidRecords, FillingFormZeroLengthKeepsPairAndNullSourceEmptiesIt) {
    S_EID_DATA d;
    init_S_EID_DATA(&d);
    ASSERT_EQ(init_S_EID_DATA(&d, kFive, 5, kDsc, 2), 0);
    unsigned char* held_dta = d.dta;
    unsigned char* held_dsc = d.dsc;

    ASSERT_EQ(init_S_EID_DATA(&d, kDsc, 0, kFive, 0), 0);
    EXPECT_EQ(d.dta, held_dta);
    EXPECT_EQ(d.dta_len, 5u);
    EXPECT_EQ(d.dsc, held_dsc);

    ASSERT_EQ(init_S_EID_DATA(&d, nullptr, 5, nullptr, 2), 0);
    EXPECT_EQ(d.dta, nullptr);
    EXPECT_EQ(d.dta_len, 0u);
    EXPECT_EQ(d.dsc, nullptr);
    EXPECT_EQ(d.dsc_len, 0u);
    std::free(held_dta);  // the filling form does not free: that is the caller's business
    std::free(held_dsc);
}

TEST(EidRecords, NegativeLengthIsRefusedWithoutTouchingTheRecord) {
    S_EID_DATA d;
    init_S_EID_DATA(&d);
    EXPECT_EQ(init_S_EID_DATA(&d, kFive, -1, nullptr, 0), -1);
    EXPECT_EQ(init_S_EID_DATA(&d, kFive, 5, kDsc, -2), -1);
    EXPECT_EQ(d.dta, nullptr);
    EXPECT_EQ(d.dsc, nullptr);

    S_EID_CERT c;
    init_S_EID_CERT(&c);
    EXPECT_EQ(init_S_EID_CERT(&c, kFive, -5, 2, nullptr, 0), -1);
    EXPECT_EQ(c.crt, nullptr);
    EXPECT_EQ(c.no, 0u);
}

TEST(EidRecords, CertificateNumberAndChecks) {
    TraceCapture trace;
    S_EID_CERT c;
    init_S_EID_CERT(&c);
    EXPECT_EQ(ctrl_S_EID_CERT(&c), -1);
    EXPECT_NE(trace.take().find("WARNING: eid_cert->crt is NULL"), std::string::npos);

    const char pem[] = "x.pem";
    ASSERT_EQ(init_S_EID_CERT(&c, kFive, 5, 5, pem, 5), 0);
    EXPECT_EQ(c.no, 0u);
    EXPECT_EQ(c.crt[5], 0);
    EXPECT_STREQ(c.dsc, "x.pem");
    EXPECT_EQ(is_empty_S_EID_CERT(&c), 0);
    EXPECT_EQ(is_empty_S_EID_CERT_dsc(&c), 0);
    EXPECT_EQ(ctrl_S_EID_CERT(&c), -1);
    EXPECT_NE(trace.take().find("WARNING: eid_cert->no is unknown"), std::string::npos);
    free_S_EID_CERT(&c);

    for (uint32_t no : {2u, 3u, 4u, 6u, 8u}) {
        ASSERT_EQ(init_S_EID_CERT(&c, kFive, 5, no, nullptr, 0), 0);
        EXPECT_EQ(c.no, no);
        EXPECT_EQ(ctrl_S_EID_CERT(&c), 0);
        EXPECT_EQ(is_empty_S_EID_CERT_dsc(&c), 1);
        EXPECT_EQ(free_S_EID_CERT(&c), 0);
        EXPECT_EQ(c.no, 0u);
        EXPECT_EQ(c.crt, nullptr);
        EXPECT_EQ(c.crt_len, 0u);
    }
    EXPECT_EQ(trace.take(), "");
}

TEST(EidRecords, DataChecksReportTheFirstFailingTest) {
    TraceCapture trace;
    S_EID_DATA d;
    init_S_EID_DATA(&d);
    EXPECT_EQ(is_empty_S_EID_DATA(&d), 1);
    EXPECT_EQ(ctrl_S_EID_DATA(&d), -1);
    EXPECT_NE(trace.take().find("WARNING: eid_data->dta is NULL"), std::string::npos);

    unsigned char byte = 'x';
    d.dta = &byte;  // present buffer, zero length
    EXPECT_EQ(is_empty_S_EID_DATA(&d), 1);
    EXPECT_EQ(ctrl_S_EID_DATA(&d), -1);
    EXPECT_NE(trace.take().find("WARNING: eid_data->dta_len not greater than 0"), std::string::npos);
    d.dta_len = 1;
    EXPECT_EQ(is_empty_S_EID_DATA(&d), 0);
    EXPECT_EQ(ctrl_S_EID_DATA(&d), 0);
    EXPECT_EQ(is_empty_S_EID_DATA(nullptr), 1);
}

TEST(EidRecords, TrimDropsTrailingZerosAndKeepsTheBuffer) {
    const unsigned char ab[] = {'A', 'B', 0, 0, 0};
    S_EID_DATA d;
    init_S_EID_DATA(&d);
    ASSERT_EQ(init_S_EID_DATA(&d, ab, 5, nullptr, 0), 0);
    unsigned char* buffer = d.dta;
    ASSERT_EQ(trim_S_EID_DATA(&d), 0);
    EXPECT_EQ(d.dta_len, 2u);
    EXPECT_EQ(d.dta, buffer);
    EXPECT_EQ(d.dta[2], 0);
    free_S_EID_DATA(&d);

    const unsigned char zeros[4] = {};
    ASSERT_EQ(init_S_EID_DATA(&d, zeros, 4, nullptr, 0), 0);
    ASSERT_EQ(trim_S_EID_DATA(&d), 0);  // ASan catches a read before the buffer
    EXPECT_EQ(d.dta_len, 0u);
    free_S_EID_DATA(&d);

    EXPECT_EQ(trim_S_EID_DATA(&d), 0);
    EXPECT_EQ(d.dta, nullptr);
    EXPECT_EQ(d.dta_len, 0u);

    S_EID_CERT c;
    init_S_EID_CERT(&c);
    ASSERT_EQ(init_S_EID_CERT(&c, ab, 5, 3, nullptr, 0), 0);
    ASSERT_EQ(trim_S_EID_CERT(&c), 0);
    EXPECT_EQ(c.crt_len, 2u);
    EXPECT_EQ(c.no, 3u);
    free_S_EID_CERT(&c);
}

TEST(EidRecords, CopyGivesOwnBufferWithoutDscAndReleasesWhatTheCopyHeld) {
    S_EID_DATA src, copy;
    init_S_EID_DATA(&src);
    init_S_EID_DATA(&copy);

    ASSERT_EQ(copy_S_EID_DATA(&src, &copy), 0);
    EXPECT_EQ(is_empty_S_EID_DATA(&copy), 1);

    ASSERT_EQ(init_S_EID_DATA(&src, kFive, 5, kDsc, 2), 0);
    // The copy already holds buffers: they must be released (LeakSanitizer).
    ASSERT_EQ(init_S_EID_DATA(&copy, kDsc, 2, kDsc, 2), 0);
    ASSERT_EQ(copy_S_EID_DATA(&src, &copy), 0);
    EXPECT_NE(copy.dta, src.dta);
    EXPECT_EQ(copy.dta_len, 5u);
    EXPECT_EQ(bytes_of(copy.dta, 6), std::string("hello\0", 6));
    EXPECT_EQ(copy.dsc, nullptr);
    EXPECT_EQ(copy.dsc_len, 0u);

    // An empty source empties a used copy.
    S_EID_DATA empty;
    init_S_EID_DATA(&empty);
    ASSERT_EQ(copy_S_EID_DATA(&empty, &copy), 0);
    EXPECT_EQ(copy.dta, nullptr);

    ASSERT_EQ(copy_S_EID_DATA(&src, &src), 0);
    EXPECT_EQ(bytes_of(src.dta, 5), "hello");
    free_S_EID_DATA(&src);
    free_S_EID_DATA(&copy);
}

TEST(EidRecords, NullRecordsFailWithTheirMessages) {
    struct Case {
        std::function<int()> call;
        const char* message;
    };
    S_EID_DATA d;
    init_S_EID_DATA(&d);
    const std::vector<Case> cases = {
        {[] { return init_S_EID_DATA(nullptr); }, "WARNING: eid_data is NULL"},
        {[] { return init_S_EID_DATA(nullptr, kFive, 5, nullptr, 0); }, "WARNING: eid_data is NULL"},
        {[] { return init_S_EID_CERT(nullptr); }, "WARNING: eid_cert is NULL"},
        {[] { return init_S_EID_CERT(nullptr, kFive, 5, 2, nullptr, 0); }, "WARNING: eid_cert is NULL"},
        {[] { return init_S_EID_ID_RN_FOR(nullptr); }, "WARNING: eid_id_rn_for is NULL"},
        {[] { return init_S_EID_ID_ADDRESS_FOR(nullptr); }, "WARNING: eid_id_address_for is NULL"},
        {[] { return init_S_EID_FUNCTION_INPUT(nullptr); },
         "ERROR: in init_S_EID_FUNCTION_INPUT(...), S_EID_FUNCTION_INPUT is NULL"},
        {[] { return init_S_EID_FUNCTION_OUTPUT(nullptr); },
         "ERROR in init_S_EID_FUNCTION_OUTPUT, S_EID_FUNCTION_OUTPUT is NULL"},
        {[] { return ctrl_S_EID_DATA(nullptr); }, "WARNING: eid_data is NULL"},
        {[] { return ctrl_S_EID_CERT(nullptr); }, "WARNING: eid_cert is NULL"},
        {[] { return copy_S_EID_DATA(nullptr, nullptr); },
         "ERROR in copy_S_EID_DATA(...), S_EID_DATA * original_data is NULL"},
        {[&d] { return copy_S_EID_DATA(&d, nullptr); },
         "ERROR in copy_S_EID_DATA(...), S_EID_DATA * copied_data is NULL"},
        {[] { return trim_S_EID_DATA(nullptr); }, "ERROR in trim_S_EID_DATA(...), S_EID_DATA * eid_data is NULL"},
        {[] { return trim_S_EID_CERT(nullptr); }, "ERROR in trim_S_EID_CERT(...), S_EID_CERT * cert is NULL"},
        {[] { return free_S_EID_DATA(nullptr); }, "ERROR in free_S_EID_DATA(...), S_EID_DATA * eid_data is NULL"},
        {[] { return free_S_EID_CERT(nullptr); }, "ERROR in free_S_EID_CERT(...), S_EID_CERT * eid_cert is NULL"},
        {[] { return free_S_EID_FUNCTION_INPUT(nullptr); },
         "ERROR: in free_S_EID_FUNCTION_INPUT(...), S_EID_FUNCTION_INPUT is NULL"},
        {[] { return free_S_EID_FUNCTION_OUTPUT(nullptr); },
         "ERROR: in free_S_EID_FUNCTION_OUTPUT(...), S_EID_FUNCTION_OUTPUT is NULL"},
    };
    TraceCapture trace;
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), -1) << c.message;
        EXPECT_NE(trace.take().find(c.message), std::string::npos) << c.message;
    }
}

TEST(EidRecords, TransactionRecordsFreeEverythingAndCanBeRefilled) {
    S_EID_FUNCTION_INPUT in;
    S_EID_FUNCTION_OUTPUT out;
    ASSERT_EQ(init_S_EID_FUNCTION_INPUT(&in), 0);
    ASSERT_EQ(init_S_EID_FUNCTION_OUTPUT(&out), 0);

    for (int round = 0; round < 2; ++round) {
        for (S_EID_DATA* d : {&in.in_aux1, &in.id_session, &in.pincode, &in.hash1, &in.doc_ref1, &in.in_aux6})
            ASSERT_EQ(init_S_EID_DATA(d, kFive, 5, kDsc, 2), 0);
        in.function_id = 0x401241;
        in.request_mask[9] = 7;
        for (S_EID_DATA* d : {&out.id_reference, &out.id_rn, &out.id_photo_aux, &out.sgn_photo, &out.aux_96,
                              &out.cert8_aux, &out.auth_sgn, &out.aux_166, &out.aux_spare, &out.id_card})
            ASSERT_EQ(init_S_EID_DATA(d, kFive, 5, kDsc, 2), 0);
        for (S_EID_CERT* c : {&out.cert2, &out.cert3, &out.cert4, &out.cert6, &out.cert8})
            ASSERT_EQ(init_S_EID_CERT(c, kFive, 5, 2, "p.pem", 5), 0);
        out.function_id = 1;
        out.sign_stat = -1;
        out.aux_141 = 9;
        out.id_rn_for.f17[0] = 'x';
        out.id_address_for.f03[49] = 'y';

        ASSERT_EQ(free_S_EID_FUNCTION_INPUT(&in), 0);
        ASSERT_EQ(free_S_EID_FUNCTION_OUTPUT(&out), 0);

        EXPECT_EQ(in.id_session.dta, nullptr);
        EXPECT_EQ(in.in_aux6.dsc, nullptr);
        EXPECT_EQ(in.function_id, 0);
        EXPECT_EQ(in.request_mask[9], 0);
        EXPECT_EQ(out.id_card.dta, nullptr);
        EXPECT_EQ(out.aux_spare.dta_len, 0u);
        EXPECT_EQ(out.cert8.no, 0u);
        EXPECT_EQ(out.cert8.dsc, nullptr);
        EXPECT_EQ(out.function_id, 0);
        EXPECT_EQ(out.sign_stat, 0);
        EXPECT_EQ(out.aux_141, 0);
        EXPECT_EQ(out.id_rn_for.f17[0], 0);
        EXPECT_EQ(out.id_address_for.f03[49], 0);
    }
}

}  // namespace
