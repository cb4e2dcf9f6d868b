// Opening the log file, shared by __settracefile and rotation.
#pragma once

namespace orvel {

// Opens path write-only for appending, created 0664 when missing; a
// symbolic link at the name is not followed, and anything but a regular file
// there (a FIFO that would block the host) is refused: the open fails.
// Returns the descriptor, or -1.
int open_log_file(const char* path) noexcept;

// Tells the host on standard error that no log file could be opened. The
// process goes on (the host may be a Java VM); the caller leaves no output.
void report_log_open_failure() noexcept;

}  // namespace orvel
