// The one process-wide trace state and the lock that guards it.
#pragma once

#include "orvel.h"

#include <limits.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#define ORVEL_EXPORT __attribute__((visibility("default")))

namespace orvel {

// Longest log path a host may pass.
inline constexpr std::size_t kMaxLogPath = 255;
// Longest log path kept: a relative one is kept made absolute (the buffer
// holds it and a terminator).
inline constexpr std::size_t kMaxAbsoluteLogPath = PATH_MAX - 1;

struct LevelRow {
    std::string_view long_name;
    std::string_view short_name;
    unsigned level;
    int colour;  // console colour, negative = none; changed by __settracecolor
};

inline constexpr std::size_t kLevelRows = 6;

// Fields marked "atomic" are read without the lock (level filter, getters);
// everything else is read and changed only while a TraceLock is held.
// All members are trivially destructible so that lines written from other
// libraries' exit code never meet a destroyed state.
struct TraceState {
    std::atomic<int> fd{-1};
    std::atomic<unsigned> level{ORVEL_DEBUG};
    std::atomic<unsigned> options{0xFF};
    std::atomic<int> depth{-1};
    int default_colour = -1;
    orvel_writer_fn writer = nullptr;  // changed through set_output
    orvel_hook_fn hook = nullptr;      // changed through set_output (a dump hides it for a while)
    std::atomic<bool> output_set{false};  // writer or hook set, readable without the lock
    const char* tag = nullptr;  // the caller's text, not copied
    unsigned tag_length = 0;
    std::array<char, kMaxAbsoluteLogPath + 1> log_path{};  // absolute; empty: output is not a named file
    std::int64_t log_opened_at = 0;  // stands in for the file's creation time
    // Which file the log descriptor is, so that rotation sees when another
    // process has moved it away from the log path.
    dev_t log_device = 0;
    ino_t log_inode = 0;
    bool exit_handler_registered = false;
    // Counts the changes of the tag and the colours, so that a thread knows
    // when its copy of them (current_appearance) is stale.
    std::atomic<std::uint64_t> appearance_changes{0};
    std::array<LevelRow, kLevelRows> levels{{
        {"ERR", "ERR", 4, 12},
        {"WARN", "WAR", 5, 13},
        {"NOTICE", "NOT", 6, 10},
        {"INFO", "INF", 7, 9},
        {"DEBUG", "DBG", 8, 7},
        {"FULL", "FUL", 9, 8},
    }};
};

extern constinit TraceState trace_state;

// Holds the library's recursive lock for its lifetime. The lock is statically
// initialised (so two first callers cannot race to create it) and never
// destroyed.
class TraceLock {
public:
    TraceLock() noexcept;
    ~TraceLock();
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;

    // Around fork(): the lock is held before it, so that no other thread is
    // changing the state, writing or converting local time when the process
    // is copied, and released after it in the parent: a fork waits at most
    // for the line being written (a host's writer and hook included). The
    // child gets a fresh lock instead: the held one names a thread id the
    // child's thread does not have.
    static void hold_for_fork() noexcept;
    static void release_in_parent() noexcept;
    static void renew_in_child() noexcept;
};

// Keeps the caller's errno across a trace call.
class ErrnoKeeper {
public:
    ErrnoKeeper() noexcept;
    ~ErrnoKeeper();
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int saved_;
};

// The writer used for files and descriptors: write(2) until every byte is
// written or an error other than EINTR occurs.
int default_writer(int fd, const void* bytes, unsigned int length);

// True when a line of this level is written. Takes no lock.
inline bool level_passes(unsigned level) noexcept {
    return level <= trace_state.level.load(std::memory_order_relaxed);
}

inline bool option_on(unsigned options, unsigned bit) noexcept { return (options & bit) != 0; }

// Lock held.
inline void set_output(orvel_writer_fn writer, orvel_hook_fn hook) noexcept {
    trace_state.writer = writer;
    trace_state.hook = hook;
    trace_state.output_set.store(writer != nullptr || hook != nullptr, std::memory_order_relaxed);
}

// False when a line could reach no output nor hook, so it is not worth
// building. Takes no lock: a line racing with the call that sets the output
// may be dropped, as it would be had it come a moment earlier.
inline bool output_possible() noexcept {
    return trace_state.output_set.load(std::memory_order_relaxed) ||
           option_on(trace_state.options.load(std::memory_order_relaxed), ORVEL_OPT_STDOUT);
}

// The row of a level, or null when the level has none. Its names and level
// never change, so they may be read without the lock; its colour may not.
const LevelRow* level_row(unsigned level) noexcept;

// What a line shows of the tag and the colours, as the setters left them.
struct Appearance {
    const char* tag = nullptr;
    unsigned tag_length = 0;
    int default_colour = -1;
    std::array<int, kLevelRows> row_colours{};  // in the order of the level rows

    // The row's colour when the level has a row and it is not negative,
    // else the default colour; negative = none.
    int colour_of(unsigned level) const noexcept;
};

// This thread's copy of the appearance. It is copied again, under the lock,
// only after a setter changed it, so a line can be built without the lock.
const Appearance& current_appearance() noexcept;

// Setters of the tag and colours call it after the change. Lock held.
void appearance_changed() noexcept;

std::string_view log_path() noexcept;  // lock held

// Drops the output: descriptor -1, no writer or hook, no log path. Lock held.
void clear_output() noexcept;

}  // namespace orvel
