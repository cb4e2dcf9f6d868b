// Log-file rotation: numbered copies "path.1" (newest) to "path.N".
#include "rotation.h"

#include "log_file.h"
#include "trace_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>

namespace orvel {

namespace {

std::atomic<unsigned> rotate_size{0};
std::atomic<unsigned> rotate_interval{0};
std::atomic<unsigned> rotate_backlogs{0};

std::int64_t system_clock_seconds() noexcept { return static_cast<std::int64_t>(std::time(nullptr)); }

std::atomic<RotationClock> rotation_clock{system_clock_seconds};

std::string copy_name(std::string_view path, unsigned n) {
    std::string name(path);
    name += '.';
    name += std::to_string(n);
    return name;
}

bool exists(const std::string& path) noexcept {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool rotation_due(const struct stat& st) noexcept {
    const unsigned size = rotate_size.load(std::memory_order_relaxed);
    if (size != 0 && static_cast<std::uint64_t>(st.st_size) >= size) return true;
    const unsigned interval = rotate_interval.load(std::memory_order_relaxed);
    return interval != 0 && rotation_now() > trace_state.log_opened_at + static_cast<std::int64_t>(interval);
}

// With no backlogs the live file goes too. Copies beyond the kept number are
// deleted as long as they follow each other without a gap.
void delete_old_copies(std::string_view path, unsigned backlogs) {
    unsigned n = backlogs;
    if (n == 0) {
        ::unlink(std::string(path).c_str());
        n = 1;
    }
    for (; n != 0; ++n) {
        const std::string name = copy_name(path, n);
        if (!exists(name)) break;
        ::unlink(name.c_str());
    }
}

void shift_copies(std::string_view path, unsigned backlogs) {
    for (unsigned n = backlogs; n >= 1; --n) {
        const std::string source = n == 1 ? std::string(path) : copy_name(path, n - 1);
        if (exists(source)) std::rename(source.c_str(), copy_name(path, n).c_str());
    }
}

void start_new_file(const std::string& path) noexcept {
    const int fd = open_log_file(path.c_str());
    if (fd < 0) {
        report_log_open_failure();
        clear_output();
        return;
    }
    trace_state.fd.store(fd, std::memory_order_relaxed);
    trace_state.log_opened_at = rotation_now();
}

void rotate(const std::string& path) {
    ::close(trace_state.fd.exchange(-1, std::memory_order_relaxed));
    const unsigned backlogs = rotate_backlogs.load(std::memory_order_relaxed);
    delete_old_copies(path, backlogs);
    shift_copies(path, backlogs);
    start_new_file(path);
}

}  // namespace

void set_rotation_clock(RotationClock clock) noexcept {
    rotation_clock.store(clock ? clock : system_clock_seconds, std::memory_order_relaxed);
}

std::int64_t rotation_now() noexcept { return rotation_clock.load(std::memory_order_relaxed)(); }

void rotate_if_due() noexcept {
    if (log_path().empty() || trace_state.hook != nullptr || trace_state.writer != default_writer) return;
    try {
        const std::string path(log_path());
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return;  // removed from outside: keep writing to the open file
        if (rotation_due(st)) rotate(path);
    } catch (...) {
        // Out of memory for a file name: the line goes to the current file.
    }
}

}  // namespace orvel

extern "C" {

ORVEL_EXPORT void __setrotatesize(unsigned int bytes) {
    orvel::rotate_size.store(bytes, std::memory_order_relaxed);
}

ORVEL_EXPORT void __setrotateinterval(unsigned int seconds) {
    orvel::rotate_interval.store(seconds, std::memory_order_relaxed);
}

ORVEL_EXPORT void __setrotatebacklogs(unsigned int count) {
    orvel::rotate_backlogs.store(count, std::memory_order_relaxed);
}

}  // extern "C"
