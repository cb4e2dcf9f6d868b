#include <gtest/gtest.h>

#include <vector>

#include "selvane/insurance_period.h"
#include "selvane/sfdf.h"
#include "sfdf_test_image.h"

using namespace selvane::sfdf;

namespace {

PeriodDates dated(std::string_view begin, std::string_view end) { return {begin, end}; }

std::pair<unsigned, bool> chosen(std::vector<PeriodDates> periods, std::uint32_t today) {
    const PeriodChoice choice = select_period(periods, today);
    return {choice.number, choice.outside_today};
}

std::string period_image(std::string_view begin, std::string_view end, std::string_view ict2) {
    return item(0xA3, item(0x83, ict2) + item(0x84, begin) + item(0x85, end));
}

}  // namespace

TEST(InsurancePeriod, OpenEndedPeriodHoldsFromItsBeginDate) {
    const std::string image = period_image("20080101", "20081231", "101") + period_image("20090101", "99999999", "100");
    const Record record = decode(bytes_of(image), {}, "20100323");
    EXPECT_EQ(record.selected_period, 2u);
    EXPECT_EQ(record.value(kPayRegRow), "0");
    EXPECT_EQ(chosen({dated("20090101", "99999999")}, 20081231), std::make_pair(1u, true));  // before it begins
    EXPECT_EQ(chosen({{std::nullopt, "99999999"}}, 20100323), std::make_pair(1u, false));
}

TEST(InsurancePeriod, BeginAndEndDaysAreInside) {
    const std::vector<PeriodDates> periods{dated("20100101", "20101231"), dated("20110101", "20111231")};
    EXPECT_EQ(chosen(periods, 20100101).first, 1u);
    EXPECT_EQ(chosen(periods, 20101231).first, 1u);
    EXPECT_EQ(chosen(periods, 20110101).first, 2u);
    EXPECT_EQ(chosen(periods, 20091231), std::make_pair(2u, true));  // none yet: latest end, outside today
    EXPECT_EQ(chosen(periods, 20120101), std::make_pair(2u, true));
}

TEST(InsurancePeriod, OverlapsGoToTheLatestEndThenTheLowerNumber) {
    const auto today = 20100601u;
    EXPECT_EQ(chosen({dated("20100101", "20101231"), dated("20100101", "20111231")}, today).first, 2u);
    EXPECT_EQ(chosen({dated("20100101", "20111231"), dated("20100501", "20111231")}, today).first, 1u);
    EXPECT_EQ(chosen({dated("20100101", "20101231"), dated("20100101", "20101231"), dated("20100101", "99999999")},
                     today).first, 3u);
    // A fourth period is beyond the three slots.
    EXPECT_EQ(chosen({dated("2", "3"), dated("2", "3"), dated("2", "3"), dated("20100101", "20101231")}, today),
              std::make_pair(1u, true));
}

TEST(InsurancePeriod, NoneHoldingPrefersAPeriodWithoutDates) {
    const auto today = 20100601u;
    EXPECT_EQ(chosen({dated("20080101", "20081231"), {}}, today), std::make_pair(2u, false));
    EXPECT_EQ(chosen({dated("20080101", "20081231"), dated("99999999", "99999999")}, today),
              std::make_pair(2u, false));
    EXPECT_EQ(chosen({dated("20080101", "20091231"), {"20070101", std::nullopt}}, today), std::make_pair(1u, true));
    EXPECT_EQ(chosen({dated("x", "20121231")}, today), std::make_pair(1u, true));  // unreadable begin never holds
    EXPECT_EQ(chosen({}, today).first, 0u);
}

TEST(InsurancePeriod, PaymentRegimeFromCodes) {
    EXPECT_EQ(payment_regime("000", "100", false), '0');
    EXPECT_EQ(payment_regime("000", "401", false), '1');
    EXPECT_EQ(payment_regime("000", "911", false), '1');
    EXPECT_EQ(payment_regime("000", "102", false), 'X');
    EXPECT_EQ(payment_regime("121", "800", false), '1');
    EXPECT_EQ(payment_regime("127", "801", false), 'X');
    EXPECT_EQ(payment_regime("000", "001", false), 'X');
    EXPECT_EQ(payment_regime("000", "701", false), 'X');
    EXPECT_EQ(payment_regime("000", "10", false), 'X');
    EXPECT_EQ(payment_regime("000", "100", true), 'X');
}

TEST(InsurancePeriod, RegimeIsUnknownWhenChosenOutsideToday) {
    const Record record = decode(bytes_of(period_image("20080101", "20081231", "100")), {}, "20100323");
    EXPECT_EQ(record.selected_period, 1u);
    EXPECT_EQ(record.value(kPayRegRow), "X");
}
