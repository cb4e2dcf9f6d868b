// Many threads writing through one log file, rotating or set again while
// they write; several processes writing hex dumps to one log file or
// rotating it; children forked while threads write; a writer that calls
// into a library which traces under its own lock.
#include "trace_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <regex>
#include <set>
#include <thread>

namespace orvel_test {
namespace {

namespace fs = std::filesystem;
using Concurrency = TraceTest;

// Runs body(p) in count forked children that start together, so that their
// writes overlap. True when every child exited with 0.
bool run_processes_together(int count, const std::function<void(int)>& body) {
    int start[2];
    if (::pipe(start) != 0) return false;
    std::vector<pid_t> children;
    for (int p = 0; p < count; ++p) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(start[1]);
            char go;
            const bool started = ::read(start[0], &go, 1) == 0;  // the parent closed its end
            body(p);
            ::_exit(started ? 0 : 1);
        }
        if (pid > 0) children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    bool all_exited = children.size() == static_cast<std::size_t>(count);
    for (const pid_t pid : children) {
        int status = 0;
        all_exited = ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && all_exited;
    }
    return all_exited;
}

// Waits up to the time-out for the child: a hang detector, not a measure.
// True when it exited with 0; a child still running is killed.
bool exited_in_time(pid_t pid, int timeout_seconds) {
    constexpr int kPollMicroseconds = 200;
    for (long waited = 0; waited < timeout_seconds * 1'000'000L; waited += kPollMicroseconds) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0) return false;
        ::usleep(kPollMicroseconds);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

int discard_writer(int, const void*, unsigned int length) { return static_cast<int>(length); }

std::size_t open_descriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 1500;
constexpr unsigned kRotateSize = 32 * 1024;
constexpr unsigned kBacklogs = 64;  // room for every rotated copy of this run

TEST_F(Concurrency, EightThreadsWithRotationLoseAndMixNoLine) {
    const fs::path log = temp_dir() / "threads.log";
    __setrotatesize(kRotateSize);
    __setrotatebacklogs(kBacklogs);
    __settraceopts(ORVEL_OPT_ROTATE | ORVEL_OPT_LEVEL | ORVEL_OPT_LEVEL_NAME | ORVEL_OPT_TID | ORVEL_OPT_FILE |
                   ORVEL_OPT_LINE | ORVEL_OPT_FUNCTION | ORVEL_OPT_TAG);
    __settracetag("T");
    __settracefile(log.c_str());

    std::vector<unsigned> tids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &tids] {
            tids[static_cast<std::size_t>(t)] = static_cast<unsigned>(::gettid());
            const std::string pad(static_cast<std::size_t>(20 + 7 * t), static_cast<char>('a' + t));
            for (int i = 0; i < kLinesPerThread; ++i) {
                __tracef(ORVEL_INFO, "worker", "src/worker.cpp", t, "thread %d line %d %s", t, i, pad.c_str());
                if (i % 100 == 0) {
                    const std::uint8_t bytes[20] = {};
                    __xdump(ORVEL_INFO, nullptr, nullptr, 0, bytes, sizeof bytes);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    __closetracefile();

    ASSERT_TRUE(fs::exists(log.string() + ".1")) << "the run must have rotated";
    ASSERT_FALSE(fs::exists(log.string() + "." + std::to_string(kBacklogs))) << "a copy may have been dropped";

    const std::regex trace_line(R"(INF \(0x([0-9a-f]+)\)T thread (\d) line (\d+) ([a-h]+) \[worker:worker\.cpp:(\d)\])");
    const std::regex dump_line(R"(INF \(0x[0-9a-f]+\)T 00[01]0  (00 ){4,16} +\.{4,16} *)");
    std::set<std::pair<int, int>> seen;
    int dump_lines = 0;
    for (unsigned n = 0; n < kBacklogs; ++n) {
        const fs::path file = n == 0 ? log : fs::path(log.string() + "." + std::to_string(n));
        if (!fs::exists(file)) continue;
        const std::string text = read_file(file);
        ASSERT_TRUE(text.empty() || text.back() == '\n') << file;
        for (const std::string& l : split_lines(text)) {
            std::smatch m;
            if (std::regex_match(l, dump_line)) {
                ++dump_lines;
                continue;
            }
            ASSERT_TRUE(std::regex_match(l, m, trace_line)) << "broken line: " << l;
            const int t = std::stoi(m[2].str());
            ASSERT_EQ(std::stoi(m[5].str()), t);
            EXPECT_EQ(std::stoul(m[1].str(), nullptr, 16), tids[static_cast<std::size_t>(t)]);
            EXPECT_EQ(m[4].str(), std::string(static_cast<std::size_t>(20 + 7 * t), static_cast<char>('a' + t)));
            EXPECT_TRUE(seen.emplace(t, std::stoi(m[3].str())).second) << "line written twice: " << l;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
    EXPECT_EQ(dump_lines, kThreads * (kLinesPerThread / 100) * 2);
}

// Eight threads write while set_output sets the output to the log file again
// and again: every line must reach the file once, and each replaced
// descriptor must be closed.
void expect_no_line_lost_while_setting(const fs::path& log, const std::function<void()>& set_output) {
    constexpr int kWriters = 8;
    constexpr int kLines = 2000;
    const std::size_t descriptors_before = open_descriptors();
    __settraceopts(0x0);
    set_output();

    std::atomic<int> writers_left{kWriters};
    std::atomic<int> sets{0};
    std::thread setter([&] {
        while (writers_left.load() != 0 || sets.load() < 2) {
            set_output();
            sets.fetch_add(1);
        }
    });
    while (sets.load() == 0) std::this_thread::yield();  // the writers start while the output is being set
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t) {
        writers.emplace_back([t, &writers_left] {
            for (int i = 0; i < kLines; ++i) __tracef(ORVEL_INFO, nullptr, nullptr, 0, "%d %d", t, i);
            writers_left.fetch_sub(1);
        });
    }
    for (auto& th : writers) th.join();
    setter.join();
    __closetracefile();
    EXPECT_EQ(open_descriptors(), descriptors_before) << "a replaced descriptor was left open";

    std::set<std::pair<int, int>> seen;
    for (const std::string& l : split_lines(read_file(log))) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(l.c_str(), "%d %d", &t, &i), 2) << "broken line: " << l;
        EXPECT_TRUE(seen.emplace(t, i).second) << "line written twice: " << l;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kWriters * kLines)) << "after " << sets.load() << " sets";
}

TEST_F(Concurrency, SettingTheSameFileAgainLosesNoLineOfOtherThreads) {
    const fs::path log = temp_dir() / "again.log";
    expect_no_line_lost_while_setting(log, [&log] { __settracefile(log.c_str()); });
}

TEST_F(Concurrency, SettingADescriptorOfTheSameFileLosesNoLineOfOtherThreads) {
    const fs::path log = temp_dir() / "again.log";
    expect_no_line_lost_while_setting(log, [&log] { __settracefd(::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600)); });
}

// Each child writes its dumps to its own descriptor of the same file; the
// children start together so that their writes overlap.
TEST_F(Concurrency, DumpsOfProcessesSharingALogFileAreNeverSplit) {
    constexpr int kProcesses = 4;
    constexpr int kDumps = 150;
    constexpr int kRows = 8;
    const fs::path log = temp_dir() / "shared.log";

    ASSERT_TRUE(run_processes_together(kProcesses, [&log](int) {
        __settraceopts(ORVEL_OPT_PID);
        __settracefile(log.c_str());
        std::array<std::uint8_t, kRows * 16> bytes{};
        std::iota(bytes.begin(), bytes.end(), std::uint8_t{0x41});
        for (int d = 0; d < kDumps; ++d) __xdump(ORVEL_INFO, nullptr, nullptr, 0, bytes.data(), bytes.size());
    }));

    // "(pid) offset  ...": row k of every dump has offset 16 k and the process of the dump's first row.
    const std::regex row(R"(\((\d+)\) ([0-9a-f]{4})  .*)");
    const std::vector<std::string> lines = split_lines(read_file(log));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kDumps * kRows));
    std::map<std::string, int> dumps_of;
    std::string dump_pid;
    int misplaced_rows = 0;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[n], m, row)) << lines[n];
        const std::size_t k = n % kRows;
        if (k == 0) {
            dump_pid = m[1].str();
            ++dumps_of[dump_pid];
        }
        if (m[1].str() != dump_pid || std::stoul(m[2].str(), nullptr, 16) != 16 * k) ++misplaced_rows;
    }
    EXPECT_EQ(misplaced_rows, 0) << "dumps are split by other processes' rows";
    EXPECT_EQ(dumps_of.size(), static_cast<std::size_t>(kProcesses));
    for (const auto& [pid, dumps] : dumps_of) EXPECT_EQ(dumps, kDumps) << pid;
}

// Each process writes lines "p i" and, every 50 lines, a one-row dump whose
// characters read "dump p i"; all rotate one log by size. Every line and
// dump row must be found once across the live file and its copies, and the
// copies must be numbered 1..N.
TEST_F(Concurrency, ProcessesRotatingOneLogLoseNoLineAndLeaveNoGapInTheCopies) {
    constexpr int kProcesses = 4;
    constexpr int kLines = 3000;
    constexpr int kDumpEvery = 50;
    const fs::path log = temp_dir() / "rotated.log";
    __setrotatesize(4096);
    __setrotatebacklogs(400);
    ASSERT_TRUE(run_processes_together(kProcesses, [&log](int p) {
        __settraceopts(ORVEL_OPT_ROTATE);
        __settracefile(log.c_str());
        for (int i = 0; i < kLines; ++i) {
            __tracef(ORVEL_INFO, nullptr, nullptr, 0, "%d %d", p, i);
            if (i % kDumpEvery != 0) continue;
            char row[32];
            std::snprintf(row, sizeof row, "dump %d %-9d", p, i);
            __xdump(ORVEL_INFO, nullptr, nullptr, 0, row, 16);
        }
    }));

    std::set<unsigned> copies;
    const std::string copy_prefix = log.filename().string() + ".";
    for (const auto& entry : fs::directory_iterator(temp_dir())) {
        const std::string name = entry.path().filename().string();
        if (name == log.filename()) continue;
        ASSERT_TRUE(name.starts_with(copy_prefix)) << name;
        copies.insert(static_cast<unsigned>(std::stoul(name.substr(copy_prefix.size()))));
    }
    ASSERT_FALSE(copies.empty()) << "the run must have rotated";
    EXPECT_EQ(*copies.begin(), 1u);
    EXPECT_EQ(*copies.rbegin(), copies.size()) << "the copies have a gap";

    std::set<std::pair<int, int>> lines;
    std::set<std::pair<int, int>> dumps;
    for (unsigned n = 0; n <= copies.size(); ++n) {
        const fs::path file = n == 0 ? log : fs::path(log.string() + "." + std::to_string(n));
        for (const std::string& l : split_lines(read_file(file))) {
            int p = -1;
            int i = -1;
            const bool dump_row = l.starts_with("0000  ");
            const bool parsed = dump_row ? l.size() == 71 && std::sscanf(l.c_str() + 55, "dump %d %d", &p, &i) == 2
                                         : std::sscanf(l.c_str(), "%d %d", &p, &i) == 2;
            ASSERT_TRUE(parsed) << "broken line in " << file << ": " << l;
            EXPECT_TRUE((dump_row ? dumps : lines).emplace(p, i).second) << "written twice: " << l;
        }
    }
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kLines));
    EXPECT_EQ(dumps.size(), static_cast<std::size_t>(kProcesses * kLines / kDumpEvery));
}

// A child forked while other threads hold the trace lock must not wait for
// them: they do not exist in the child. The alarm ends a child that hangs.
TEST_F(Concurrency, ChildForkedWhileOtherThreadsWriteDoesNotHang) {
    constexpr int kWriters = 4;
    constexpr int kForks = 40;
    const fs::path log = temp_dir() / "fork.log";
    __settraceopts(ORVEL_OPT_PID | ORVEL_OPT_TID);
    __settracefile(log.c_str());

    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < kWriters; ++t) {
        writers.emplace_back([t, &stop] {
            const std::uint8_t bytes[40] = {};
            while (!stop.load()) {
                __tracef(ORVEL_INFO, nullptr, nullptr, 0, "writer %d", t);
                __xdump(ORVEL_INFO, nullptr, nullptr, 0, bytes, sizeof bytes);
            }
        });
    }
    int forks = 0;
    int status = 0;
    for (; forks < kForks; ++forks) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(10);
            __tracef(ORVEL_INFO, nullptr, nullptr, 0, "child %d", forks);
            const char bytes[] = "child's dump";
            __xdump(ORVEL_INFO, nullptr, nullptr, 0, bytes, sizeof bytes);
            ::_exit(0);
        }
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) break;
    }
    stop = true;
    for (auto& th : writers) th.join();
    __closetracefile();

    ASSERT_EQ(forks, kForks) << "child " << forks << " did not exit normally"
                             << (WIFSIGNALED(status) ? std::string(": ") + ::strsignal(WTERMSIG(status)) : "");
    const std::string text = read_file(log);
    for (int f = 0; f < kForks; ++f) {
        EXPECT_NE(text.find(") child " + std::to_string(f) + "\n"), std::string::npos) << "child " << f;
    }
}

// Local time is made under the trace lock, which the fork handler holds, so
// no thread of the kit is inside the C library's time-zone lock when the
// process is copied: the child's first time-stamped line must not hang.
TEST_F(Concurrency, ChildForkedBesideTimeStampedTracingNeverHangs) {
    constexpr int kTracers = 2;
    constexpr int kForks = 1000;
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null_fd, 0);
    __settraceopts(ORVEL_OPT_DATE | ORVEL_OPT_TIME | ORVEL_OPT_MSEC);
    __settracefd(null_fd);

    std::atomic<bool> stop{false};
    std::vector<std::thread> tracers;
    for (int t = 0; t < kTracers; ++t) {
        tracers.emplace_back([&stop] {
            while (!stop.load(std::memory_order_relaxed)) __tracef(ORVEL_INFO, nullptr, nullptr, 0, "tick");
        });
    }
    int forks = 0;
    for (; forks < kForks; ++forks) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            __tracef(ORVEL_INFO, nullptr, nullptr, 0, "child");
            ::_exit(0);
        }
        if (pid < 0 || !exited_in_time(pid, 10)) break;
    }
    stop = true;
    for (auto& th : tracers) th.join();
    __closetracefile();
    ::close(null_fd);
    EXPECT_EQ(forks, kForks) << "child " << forks << " hung or failed";
}

// A model of a card library: every call holds the library's lock and
// traces under it, and the host's writer calls into that library. Neither
// thread may wait for the other's writer, with or without forks beside them.
class CardLibraryModel {
public:
    static int writer(int, const void* bytes, unsigned int length) {
        const std::lock_guard hold(library_lock);  // the host's writer asks the card library
        const std::string_view piece(static_cast<const char*>(bytes), length);
        delivered += std::count(piece.begin(), piece.end(), '\n');
        return static_cast<int>(length);
    }
    static void card_call(int n) {
        const std::lock_guard hold(library_lock);
        __tracef(ORVEL_INFO, "cardPresent", nullptr, 0, "call %d", n);
    }

    static inline std::recursive_mutex library_lock;
    static inline std::atomic<long> delivered{0};
};

// Runs the card calls on two threads and host lines on a third, while
// between_lines runs on the calling thread; in a child, so that a deadlock
// ends with the alarm instead of the test run. True when all ended.
bool card_calls_and_host_lines_end(const std::function<void()>& between_lines) {
    const ChildResult child = run_in_child([&between_lines] {
        ::alarm(30);
        __settraceopts(ORVEL_OPT_TIME | ORVEL_OPT_TID);
        __settracer(CardLibraryModel::writer, -1, nullptr);
        constexpr int kCalls = 3000;
        std::atomic<int> running{3};
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&running] {
                for (int n = 0; n < kCalls; ++n) CardLibraryModel::card_call(n);
                running.fetch_sub(1);
            });
        }
        threads.emplace_back([&running] {
            for (int n = 0; n < kCalls; ++n) __tracef(ORVEL_INFO, "host", nullptr, 0, "host line %d", n);
            running.fetch_sub(1);
        });
        while (running.load() != 0) between_lines();
        for (auto& th : threads) th.join();
        return CardLibraryModel::delivered.load() == 3 * kCalls ? 0 : 1;  // lines
    });
    EXPECT_EQ(child.err, "");
    return child.exit_code == 0;
}

TEST_F(Concurrency, WriterCallingIntoALibraryThatTracesUnderItsLockDoesNotDeadlock) {
    EXPECT_TRUE(card_calls_and_host_lines_end([] { std::this_thread::yield(); }));
}

TEST_F(Concurrency, ForksBesideAWriterCallingIntoALibraryNeitherWaitNorDeadlock) {
    EXPECT_TRUE(card_calls_and_host_lines_end([] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // The child's trace state is its own: a writer of its own, a
            // line through it, no wait for the parent's threads.
            __settracer(discard_writer, -1, nullptr);
            __tracef(ORVEL_INFO, nullptr, nullptr, 0, "child");
            ::_exit(0);
        }
        if (pid < 0 || !exited_in_time(pid, 10)) ::_exit(2);
    }));
}

// A folder its processes cannot read (mode 0333, root's processes acting as
// another user) cannot be locked: nobody rotates, and every line is kept.
TEST_F(Concurrency, ProcessesThatCannotLockTheFolderKeepEveryLine) {
    constexpr int kProcesses = 6;
    constexpr int kLines = 3000;
    constexpr uid_t kNobody = 65534;
    const bool as_root = ::geteuid() == 0;
    if (as_root) {
        for (fs::path p = temp_dir().parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
            struct stat st {};
            if (::stat(p.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) GTEST_SKIP() << p << " is closed to other users";
        }
    }
    const fs::path log = temp_dir() / "locked-out.log";
    ASSERT_EQ(::chmod(temp_dir().c_str(), 0333), 0);
    __setrotatesize(4096);
    __setrotatebacklogs(400);
    const bool ran = run_processes_together(kProcesses, [&log, as_root](int p) {
        if (as_root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(3);
        ::umask(0);
        __settraceopts(ORVEL_OPT_ROTATE);
        __settracefile(log.c_str());
        for (int i = 0; i < kLines; ++i) __tracef(ORVEL_INFO, nullptr, nullptr, 0, "%d %d", p, i);
    });
    ASSERT_EQ(::chmod(temp_dir().c_str(), 0700), 0);
    ASSERT_TRUE(ran);

    std::set<std::pair<int, int>> lines;
    for (const auto& entry : fs::directory_iterator(temp_dir())) {
        for (const std::string& l : split_lines(read_file(entry.path()))) {
            int p = -1;
            int i = -1;
            ASSERT_EQ(std::sscanf(l.c_str(), "%d %d", &p, &i), 2) << "broken line: " << l;
            lines.emplace(p, i);
        }
    }
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kLines));
}

}  // namespace
}  // namespace orvel_test
