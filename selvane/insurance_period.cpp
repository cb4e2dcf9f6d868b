#include "selvane/insurance_period.h"

#include <algorithm>
#include <limits>

namespace selvane::sfdf {
namespace {

constexpr std::string_view kOpenDate = "99999999";
constexpr std::uint32_t kAbsentDate = 1;

struct DateRange {
    std::uint32_t begin;
    std::uint32_t end;
};

std::uint32_t date_or_absent(const std::optional<std::string_view>& text) {
    return text ? date_number(*text) : kAbsentDate;
}

DateRange range_of(const PeriodDates& dates) {
    return {date_or_absent(dates.begin), date_or_absent(dates.end)};
}

bool holds(const DateRange& range, std::uint32_t today) {
    return range.begin != 0 && range.end != 0 && range.begin <= today && today <= range.end;
}

bool has_no_dates(const PeriodDates& dates) {
    const bool both_absent = !dates.begin && !dates.end;
    const bool both_open = dates.begin == kOpenDate && dates.end == kOpenDate;
    return both_absent || both_open;
}

// Among the periods that `eligible` admits, the one with the latest end;
// a later period wins only with a strictly later end.
template <typename Eligible>
unsigned latest_end(std::span<const PeriodDates> periods, Eligible eligible) {
    unsigned chosen = 0;
    std::uint32_t chosen_end = 0;
    for (unsigned k = 1; k <= periods.size(); ++k) {
        const DateRange range = range_of(periods[k - 1]);
        if (eligible(range) && (chosen == 0 || range.end > chosen_end)) {
            chosen = k;
            chosen_end = range.end;
        }
    }
    return chosen;
}

unsigned first_without_dates(std::span<const PeriodDates> periods) {
    for (unsigned k = 1; k <= periods.size(); ++k) {
        if (has_no_dates(periods[k - 1])) {
            return k;
        }
    }
    return 0;
}

bool is_zero_or_one(char c) { return c == '0' || c == '1'; }

}  // namespace

std::uint32_t date_number(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        const auto digit = static_cast<std::uint32_t>(c - '0');
        if (value > (std::numeric_limits<std::uint32_t>::max() - digit) / 10) {
            return std::numeric_limits<std::uint32_t>::max();
        }
        value = value * 10 + digit;
    }
    return value;
}

PeriodChoice select_period(std::span<const PeriodDates> periods, std::uint32_t today) {
    periods = periods.first(std::min<std::size_t>(periods.size(), kPeriodSlots));
    if (const unsigned k = latest_end(periods, [today](const DateRange& r) { return holds(r, today); })) {
        return {k, false};
    }
    if (const unsigned k = first_without_dates(periods)) {
        return {k, false};
    }
    const unsigned k = latest_end(periods, [](const DateRange&) { return true; });
    return {k, k != 0};
}

char payment_regime(std::string_view ict1, std::string_view ict2, bool outside_today) {
    if (outside_today || ict2.empty()) {
        return 'X';
    }
    switch (ict2[0]) {
    case '1':
    case '4':
    case '9':
        return ict2.size() >= 3 && is_zero_or_one(ict2[2]) ? ict2[2] : 'X';
    case '8':
        return ict1.size() >= 3 && is_zero_or_one(ict1[2]) ? ict1[2] : 'X';
    default:
        return 'X';
    }
}

}  // namespace selvane::sfdf
