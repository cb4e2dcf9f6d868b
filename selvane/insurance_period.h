// Choice of the insurance period that covers a day, and the payment regime
// that the chosen period's codes give.
//
// Dates are eight digits, year, month, day, compared as integers. An end date
// of "99999999" is open-ended: the period holds every day from its begin date.
#ifndef SELVANE_INSURANCE_PERIOD_H
#define SELVANE_INSURANCE_PERIOD_H

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace selvane::sfdf {

// A card holds at most this many periods; later ones are not looked at.
inline constexpr unsigned kPeriodSlots = 3;

// The begin and end date texts of one period; nullopt when the card has none.
struct PeriodDates {
    std::optional<std::string_view> begin;
    std::optional<std::string_view> end;
};

struct PeriodChoice {
    unsigned number = 0;         // 1 to kPeriodSlots; 0 when there is no period
    bool outside_today = false;  // no period holds today: the latest one was taken
};

// The leading decimal digits of `text` as an integer (0 when it starts with
// none); used for dates and for today's "YYYYMMDD".
std::uint32_t date_number(std::string_view text);

// Chooses among `periods` (period 1 first):
// - of those holding `today`, the one with the latest end (ties: lower number);
// - else the first whose dates are both absent or both "99999999";
// - else the one with the latest end over all (ties: lower number), outside today.
// An absent date counts as 1.
PeriodChoice select_period(std::span<const PeriodDates> periods, std::uint32_t today);

// The payment regime, 'X', '0' or '1', of a period with codes `ict1` and
// `ict2`: ICT2 1xy, 4xy or 9xy gives y, ICT2 8xx gives ICT1's third character,
// when that character is 0 or 1; everything else, and any period chosen
// outside today, gives 'X'.
char payment_regime(std::string_view ict1, std::string_view ict2, bool outside_today);

}  // namespace selvane::sfdf

#endif
