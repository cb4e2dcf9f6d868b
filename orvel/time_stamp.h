// The time-stamp piece of a line. Local time is asked for only under the
// trace lock: the fork handler holds that lock, so no thread of the kit is
// inside the C library's time-zone lock when the process is copied, and a
// child's first time-stamped line never waits on it.
#pragma once

#include <cstddef>
#include <ctime>

namespace orvel {

// "[" date " " time ".mmm" "]", each part under its option; every part has a
// fixed width, so the piece's length depends on the options alone. 0 when
// the options ask for neither date nor time.
std::size_t time_stamp_length(unsigned options) noexcept;

// Writes the piece of this length for the given local time.
void format_time_stamp(char* out, unsigned options, const std::tm& local, int milliseconds) noexcept;

// Writes the piece for now. Lock held: local time is converted once per
// second and kept.
void stamp_now(char* out, unsigned options) noexcept;

}  // namespace orvel
