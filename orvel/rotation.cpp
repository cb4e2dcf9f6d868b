// Log-file rotation: numbered copies "path.1" (newest) to "path.N".
#include "rotation.h"

#include "log_file.h"
#include "trace_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

// Lock held.
bool rotating_output() noexcept {
    return !log_path().empty() && trace_state.hook == nullptr && trace_state.writer == default_writer;
}

// The folder is opened anew for each hold: a flock belongs to the open file
// description, which a forked child would share with its parent. -1 when
// the folder cannot be opened (no read permission) or locked.
int lock_folder_of(const std::string& path) {
    const std::string folder = path.substr(0, path.rfind('/') + 1) + ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int locked = -1;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) return fd;
    ::close(fd);
    return -1;
}

bool aged_out() noexcept {
    const unsigned interval = rotate_interval.load(std::memory_order_relaxed);
    return interval != 0 && rotation_now() > trace_state.log_opened_at + static_cast<std::int64_t>(interval);
}

bool reached_size(off_t size) noexcept {
    const unsigned limit = rotate_size.load(std::memory_order_relaxed);
    return limit != 0 && static_cast<std::uint64_t>(size) >= limit;
}

bool rotation_due(const struct stat& st) noexcept { return reached_size(st.st_size) || aged_out(); }

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

// The file at the name becomes the output.
void start_new_file(const char* path) noexcept {
    if (const int old = trace_state.fd.exchange(-1, std::memory_order_relaxed); old >= 0) ::close(old);
    const int fd = open_log_file(path);
    if (fd < 0) {
        report_log_open_failure();
        clear_output();
        return;
    }
    use_new_log_file(fd);
}

void rotate(const std::string& path) {
    const unsigned backlogs = rotate_backlogs.load(std::memory_order_relaxed);
    delete_old_copies(path, backlogs);
    shift_copies(path, backlogs);
    start_new_file(path.c_str());
}

// The file at the name becomes the output when it is not the open one any
// more (another process rotated the open one away). False when there is
// none (removed from outside, or in the middle of another process's
// rotation: the open file is kept) or it cannot be opened.
bool follow_name(const char* path, struct stat& named) noexcept {
    if (::lstat(path, &named) != 0) return false;
    if (named.st_dev == trace_state.log_device && named.st_ino == trace_state.log_inode) return true;
    start_new_file(path);
    return trace_state.fd.load(std::memory_order_relaxed) >= 0;
}

void follow_and_rotate(const std::string& path) {
    struct stat named {};
    if (follow_name(path.c_str(), named) && rotation_due(named)) rotate(path);
}

}  // namespace

void set_rotation_clock(RotationClock clock) noexcept {
    rotation_clock.store(clock ? clock : system_clock_seconds, std::memory_order_relaxed);
}

std::int64_t rotation_now() noexcept { return rotation_clock.load(std::memory_order_relaxed)(); }

void use_new_log_file(int fd) noexcept {
    struct stat opened {};
    ::fstat(fd, &opened);  // a failure leaves no identity: the next line opens the name again
    trace_state.fd.store(fd, std::memory_order_relaxed);
    trace_state.log_opened_at = rotation_now();
    trace_state.log_device = opened.st_dev;
    trace_state.log_inode = opened.st_ino;
}

RotationHold::RotationHold(unsigned options) noexcept {
    if (!option_on(options, ORVEL_OPT_ROTATE) || !rotating_output()) return;
    // One look at the name per line follows another process's rotation. The
    // folder's lock is taken only when this look finds a rotation due or no
    // file at the name (another process may be between moving the live file
    // away and starting the next), and everything is looked at again under it.
    struct stat named {};
    if (follow_name(trace_state.log_path.data(), named) && !rotation_due(named)) return;
    if (trace_state.fd.load(std::memory_order_relaxed) < 0) return;  // the name could not be opened
    try {
        const std::string path(log_path());
        folder_ = lock_folder_of(path);
        // Rotating without the lock could lose lines of other processes:
        // then this line goes to the live file and rotates nothing.
        if (folder_ >= 0) follow_and_rotate(path);
    } catch (...) {
        // Out of memory for a file name: the line goes to the current file.
    }
}

// Closing the folder's only descriptor ends its lock.
RotationHold::~RotationHold() {
    if (folder_ >= 0) ::close(folder_);
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
