#include "log_file.h"

#include "platform/regular_file.h"

namespace orvel {

int open_log_file(const char* path) noexcept {
    return kit::platform::open_regular_file(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0664);
}

void report_log_open_failure() noexcept {
    static constexpr char kMessage[] = "Can't open log file\n";
    // Nothing more can be done when standard error is gone.
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
}

}  // namespace orvel
