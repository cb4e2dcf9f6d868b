#include "time_stamp.h"

#include "trace_state.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvel {

namespace {

constexpr std::size_t kPartLength = 8;  // "dd/mm/yy" and "hh:mm:ss"
constexpr std::size_t kMsecLength = 4;  // ".mmm"

bool with_date(unsigned options) noexcept { return option_on(options, ORVEL_OPT_DATE); }
bool with_time(unsigned options) noexcept { return option_on(options, ORVEL_OPT_TIME); }
bool with_msec(unsigned options) noexcept { return with_time(options) && option_on(options, ORVEL_OPT_MSEC); }

// Two digits of a value in 0-99, the first one pad when it would be 0.
char* put_two(char* out, int value, char pad) noexcept {
    out[0] = value >= 10 ? static_cast<char>('0' + value / 10) : pad;
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

// " d/mm/yy": the year modulo 100 as a number of two digits.
void put_date(char* out, const std::tm& local) noexcept {
    out = put_two(out, local.tm_mday, ' ');
    *out++ = '/';
    out = put_two(out, local.tm_mon + 1, '0');
    *out++ = '/';
    put_two(out, (local.tm_year % 100 + 100) % 100, '0');
}

// " h:mm:ss"
void put_time(char* out, const std::tm& local) noexcept {
    out = put_two(out, local.tm_hour, ' ');
    *out++ = ':';
    out = put_two(out, local.tm_min, '0');
    *out++ = ':';
    put_two(out, local.tm_sec, '0');
}

// Date and time of the last second converted, kept under the lock.
struct SecondCache {
    std::int64_t second = INT64_MIN;
    char date[kPartLength]{};
    char time[kPartLength]{};
};
constinit SecondCache second_cache;

const SecondCache& converted(std::int64_t second) noexcept {
    if (second_cache.second != second) {
        const auto seconds = static_cast<std::time_t>(second);
        std::tm local{};
        ::localtime_r(&seconds, &local);
        put_date(second_cache.date, local);
        put_time(second_cache.time, local);
        second_cache.second = second;
    }
    return second_cache;
}

void put_stamp(char* out, unsigned options, const char* date, const char* time, int milliseconds) noexcept {
    *out++ = '[';
    if (with_date(options)) out = std::copy_n(date, kPartLength, out);
    if (with_date(options) && with_time(options)) *out++ = ' ';
    if (with_time(options)) out = std::copy_n(time, kPartLength, out);
    if (with_msec(options)) {
        *out++ = '.';
        *out++ = static_cast<char>('0' + milliseconds / 100);
        out = put_two(out, milliseconds % 100, '0');
    }
    *out = ']';
}

}  // namespace

std::size_t time_stamp_length(unsigned options) noexcept {
    if (!with_date(options) && !with_time(options)) return 0;
    return 2 + (with_date(options) ? kPartLength : 0) + (with_date(options) && with_time(options) ? 1 : 0) +
           (with_time(options) ? kPartLength : 0) + (with_msec(options) ? kMsecLength : 0);
}

void format_time_stamp(char* out, unsigned options, const std::tm& local, int milliseconds) noexcept {
    char date[kPartLength];
    char time[kPartLength];
    put_date(date, local);
    put_time(time, local);
    put_stamp(out, options, date, time, milliseconds);
}

void stamp_now(char* out, unsigned options) noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const SecondCache& cache = converted(static_cast<std::int64_t>(now.tv_sec));
    put_stamp(out, options, cache.date, cache.time, static_cast<int>(now.tv_nsec / 1000000));
}

}  // namespace orvel
