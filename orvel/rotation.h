// Size- and age-based rotation of the log file set by __settracefile, safe
// among processes that rotate the same file name.
#pragma once

#include <cstdint>

namespace orvel {

// Seconds since the epoch; the age of the log file is measured with it.
using RotationClock = std::int64_t (*)() noexcept;

// Replaces the clock (null restores the system clock). Tests use it to age
// the log file without waiting.
void set_rotation_clock(RotationClock clock) noexcept;
std::int64_t rotation_now() noexcept;

// Makes fd, the log file just opened at the log path, the output
// descriptor; its age counts from now. Lock held.
void use_new_log_file(int fd) noexcept;

// Held while one line or one hex dump is checked and written, under the
// trace lock. Under ORVEL_OPT_ROTATE, while the output is the file opened by
// __settracefile (log path set, default writer, no hook), it looks at the
// name (one lstat) and reopens it when another process has rotated the open
// file away. Only when the file at the name has reached the rotation size
// or this process's file has outlived the interval, or there is no file at
// the name, it takes the lock that every process rotating that name takes
// (flock on the log's folder), looks again, and rotates the file when it is
// still due. That lock lasts until the hold ends, so the line is written
// before any other process can move the file. When the folder cannot be
// locked the line goes to the file at the name and nothing rotates.
class RotationHold {
public:
    explicit RotationHold(unsigned options) noexcept;
    ~RotationHold();
    RotationHold(const RotationHold&) = delete;
    RotationHold& operator=(const RotationHold&) = delete;

private:
    int folder_ = -1;  // holds the folder's lock while open
};

}  // namespace orvel
