// The trace state, its lock, and the exports that read or change it.
#include "trace_state.h"

#include "log_file.h"
#include "rotation.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvel {

constinit TraceState trace_state;

namespace {

pthread_mutex_t trace_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

constexpr unsigned kDefaultLevel = ORVEL_DEBUG;

// Only regular files are ours to close; a terminal, pipe or socket handed
// in by the host stays open.
void close_if_regular_file(int fd) noexcept {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        ::close(fd);
    }
}

void close_at_exit() { __closetracefile(); }

// Lock held. Writer, hook and log path stay as they are: the caller either
// installs the next output or clears it.
void close_output_file() noexcept {
    const int fd = trace_state.fd.exchange(-1, std::memory_order_relaxed);
    if (fd != -1) close_if_regular_file(fd);
}

// Lock held. The output is set in one step, so a line that takes no lock
// never finds it cleared on the way.
void set_descriptor_output(int fd, orvel_writer_fn writer) noexcept {
    trace_state.fd.store(fd, std::memory_order_relaxed);
    set_output(writer, nullptr);
    trace_state.log_path[0] = '\0';
}

bool fits_log_path(const char* path) noexcept {
    return path != nullptr && *path != '\0' && std::strlen(path) <= kMaxLogPath;
}

using AbsolutePath = std::array<char, kMaxAbsoluteLogPath + 1>;

// A relative path is taken from the current folder now, so that the log
// stays this file when the host changes folder later. False when the
// folder cannot be named or the whole path does not fit.
bool make_absolute(const char* path, AbsolutePath& absolute) noexcept {
    std::size_t used = 0;
    if (*path != '/') {
        if (::getcwd(absolute.data(), absolute.size()) == nullptr) return false;
        used = std::strlen(absolute.data());
        if (used > 0 && absolute[used - 1] != '/') absolute[used++] = '/';
    }
    const std::size_t length = std::strlen(path);
    if (used + length >= absolute.size()) return false;
    std::memcpy(absolute.data() + used, path, length + 1);
    return true;
}

void install_log_file(int fd, const AbsolutePath& path) noexcept {
    use_new_log_file(fd);
    set_output(default_writer, nullptr);
    trace_state.log_path = path;
    if (!trace_state.exit_handler_registered) {
        trace_state.exit_handler_registered = std::atexit(close_at_exit) == 0;
    }
}

unsigned level_by_name(std::string_view name) noexcept {
    if (name.empty()) return kDefaultLevel;
    for (const LevelRow& row : trace_state.levels) {
        if (row.long_name.size() >= name.size() && row.long_name.starts_with(name)) return row.level;
    }
    return kDefaultLevel;
}

}  // namespace

TraceLock::TraceLock() noexcept { pthread_mutex_lock(&trace_mutex); }
TraceLock::~TraceLock() { pthread_mutex_unlock(&trace_mutex); }

void TraceLock::hold_for_fork() noexcept { pthread_mutex_lock(&trace_mutex); }
void TraceLock::release_in_parent() noexcept { pthread_mutex_unlock(&trace_mutex); }

void TraceLock::renew_in_child() noexcept {
    static constexpr pthread_mutex_t kFresh = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
    trace_mutex = kFresh;
}

ErrnoKeeper::ErrnoKeeper() noexcept : saved_(errno) {}
ErrnoKeeper::~ErrnoKeeper() { errno = saved_; }

int default_writer(int fd, const void* bytes, unsigned int length) {
    const auto* p = static_cast<const char*>(bytes);
    std::size_t left = length;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return static_cast<int>(length);
}

const LevelRow* level_row(unsigned level) noexcept {
    const auto& rows = trace_state.levels;
    const auto it = std::find_if(rows.begin(), rows.end(), [level](const LevelRow& r) { return r.level == level; });
    return it == rows.end() ? nullptr : &*it;
}

int Appearance::colour_of(unsigned level) const noexcept {
    const LevelRow* row = level_row(level);
    if (row == nullptr) return default_colour;
    const int colour = row_colours[static_cast<std::size_t>(row - trace_state.levels.data())];
    return colour >= 0 ? colour : default_colour;
}

namespace {

// Trivially destructible, so lines written from exit code still find it.
struct AppearanceCopy {
    std::uint64_t changes = UINT64_MAX;  // none yet
    Appearance appearance;
};
constinit thread_local AppearanceCopy appearance_copy;

}  // namespace

const Appearance& current_appearance() noexcept {
    AppearanceCopy& copy = appearance_copy;
    if (trace_state.appearance_changes.load(std::memory_order_acquire) != copy.changes) {
        const TraceLock lock;
        Appearance& a = copy.appearance;
        a.tag = trace_state.tag;
        a.tag_length = trace_state.tag_length;
        a.default_colour = trace_state.default_colour;
        for (std::size_t i = 0; i < kLevelRows; ++i) a.row_colours[i] = trace_state.levels[i].colour;
        copy.changes = trace_state.appearance_changes.load(std::memory_order_relaxed);
    }
    return copy.appearance;
}

void appearance_changed() noexcept { trace_state.appearance_changes.fetch_add(1, std::memory_order_release); }

std::string_view log_path() noexcept { return trace_state.log_path.data(); }

void clear_output() noexcept { set_descriptor_output(-1, nullptr); }

}  // namespace orvel

using namespace orvel;

extern "C" {

ORVEL_EXPORT void __init_trace(void) {}

ORVEL_EXPORT unsigned int __gettraceopts(void) { return trace_state.options.load(std::memory_order_relaxed); }

ORVEL_EXPORT unsigned int __gettracelevel(void) { return trace_state.level.load(std::memory_order_relaxed); }

ORVEL_EXPORT int __gettracefd(void) { return trace_state.fd.load(std::memory_order_relaxed); }

ORVEL_EXPORT int __get_call_depth(void) { return trace_state.depth.load(std::memory_order_relaxed); }

ORVEL_EXPORT int __istraced(unsigned int level) { return level_passes(level) ? 1 : 0; }

ORVEL_EXPORT void __settracelevel(unsigned int level) {
    const TraceLock lock;
    trace_state.level.store(level, std::memory_order_relaxed);
}

ORVEL_EXPORT void __settracelevel_s(const char* name) {
    const TraceLock lock;
    trace_state.level.store(level_by_name(name ? std::string_view(name) : std::string_view()),
                            std::memory_order_relaxed);
}

ORVEL_EXPORT void __settraceopts(unsigned int options) {
    const TraceLock lock;
    const unsigned old = trace_state.options.load(std::memory_order_relaxed);
    if (!option_on(old, ORVEL_OPT_DEPTH) && option_on(options, ORVEL_OPT_DEPTH)) {
        trace_state.depth.store(0, std::memory_order_relaxed);
    }
    trace_state.options.store(options, std::memory_order_relaxed);
}

ORVEL_EXPORT void __settracer(orvel_writer_fn writer, int fd, orvel_hook_fn hook) {
    const TraceLock lock;
    set_output(writer, hook);
    trace_state.fd.store(fd, std::memory_order_relaxed);
}

ORVEL_EXPORT void __settracetag(const char* tag) {
    const TraceLock lock;
    trace_state.tag = tag;
    trace_state.tag_length = tag ? static_cast<unsigned>(std::strlen(tag)) : 0;
    appearance_changed();
}

ORVEL_EXPORT void __settracecolor(unsigned int level, int colour) {
    const TraceLock lock;
    for (LevelRow& row : trace_state.levels) {
        if (row.level == level) {
            row.colour = colour;
            appearance_changed();
            return;
        }
    }
    trace_state.default_colour = colour;
    appearance_changed();
}

ORVEL_EXPORT void __closetracefile(void) {
    const TraceLock lock;
    close_output_file();
    clear_output();
}

ORVEL_EXPORT void __settracefile(const char* path) {
    // The old file is closed before the new one is opened, all under one
    // hold of the lock, and the output stays set in between: a line of
    // another thread waits for the new file instead of finding no output.
    const TraceLock lock;
    close_output_file();
    // A cut path would make rotation rename someone else's file: refuse it.
    AbsolutePath absolute;
    const bool named = fits_log_path(path) && make_absolute(path, absolute);
    const int fd = named ? open_log_file(absolute.data()) : -1;
    if (fd < 0) {
        clear_output();
        report_log_open_failure();
        return;
    }
    install_log_file(fd, absolute);
}

ORVEL_EXPORT void __settracefd(int fd) {
    // Under one hold of the lock: a line of another thread waits for the new
    // descriptor instead of finding no output. The current descriptor set
    // again stays open: lines keep going to it.
    const TraceLock lock;
    if (fd != trace_state.fd.load(std::memory_order_relaxed)) close_output_file();
    set_descriptor_output(fd, fd > 0 ? default_writer : nullptr);
}

ORVEL_EXPORT void __set_call_depth(int depth) {
    if (depth >= 0) {
        trace_state.depth.store(depth, std::memory_order_relaxed);
        return;
    }
    const TraceLock lock;
    trace_state.depth.store(depth, std::memory_order_relaxed);
    trace_state.options.fetch_and(~ORVEL_OPT_DEPTH, std::memory_order_relaxed);
}

ORVEL_EXPORT void __incr_call_depth(void) {
    if (!option_on(__gettraceopts(), ORVEL_OPT_DEPTH)) return;
    const TraceLock lock;
    if (option_on(__gettraceopts(), ORVEL_OPT_DEPTH)) trace_state.depth.fetch_add(1, std::memory_order_relaxed);
}

ORVEL_EXPORT void __decr_call_depth(void) {
    if (!option_on(__gettraceopts(), ORVEL_OPT_DEPTH)) return;
    const TraceLock lock;
    if (!option_on(__gettraceopts(), ORVEL_OPT_DEPTH)) return;
    if (trace_state.depth.fetch_sub(1, std::memory_order_relaxed) - 1 < 0) {
        trace_state.depth.store(-1, std::memory_order_relaxed);
        trace_state.options.fetch_and(~ORVEL_OPT_DEPTH, std::memory_order_relaxed);
    }
}

}  // extern "C"
