// Size- and age-based rotation of the log file set by __settracefile.
#pragma once

#include <cstdint>

namespace orvel {

// Seconds since the epoch; the age of the log file is measured with it.
using RotationClock = std::int64_t (*)() noexcept;

// Replaces the clock (null restores the system clock). Tests use it to age
// the log file without waiting.
void set_rotation_clock(RotationClock clock) noexcept;
std::int64_t rotation_now() noexcept;

// Rotates the log file when it has reached the rotation size or outlived the
// rotation interval. Does nothing unless the output is the file opened by
// __settracefile (log path set, default writer, no hook). Lock held.
void rotate_if_due() noexcept;

}  // namespace orvel
