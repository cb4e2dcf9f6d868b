// Many threads writing through one log file, rotating or set again while
// they write; several processes writing hex dumps to one log file or
// rotating it; children forked while threads write; a host's writer while
// other threads trace, and once it has been replaced.
#include "trace_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
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

// Waits up to the limit for done(): a bound on a wait that a fault would
// make endless or needless, not a measure. True when done() came true.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// A host's writer that records each line it gets (options TID: the line
// begins with the tracing thread's id) and the thread that called it for
// that line. Its first call runs the hold first, so that other threads
// trace while a line is being written.
class RecordingWriter {
public:
    struct Line {
        unsigned writing_tid;
        unsigned traced_tid;
        std::string message;
    };

    static void start(std::function<void()> hold) {
        const std::lock_guard lock(mutex_);
        lines_.clear();
        hold_ = std::move(hold);
        first_.store(true);
        __settraceopts(ORVEL_OPT_TID);
        __settracer(write, -1, nullptr);
    }

    static std::vector<Line> lines() {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    static int write(int, const void* bytes, unsigned int length) {
        if (first_.exchange(false)) hold_();
        thread_local std::string partial;
        partial.append(static_cast<const char*>(bytes), length);
        if (partial.empty() || partial.back() != '\n') return static_cast<int>(length);
        unsigned traced = 0;
        int consumed = 0;
        if (std::sscanf(partial.c_str(), "(0x%x) %n", &traced, &consumed) == 1) {
            const std::lock_guard lock(mutex_);
            lines_.push_back({static_cast<unsigned>(::gettid()), traced,
                              partial.substr(static_cast<std::size_t>(consumed), partial.size() - consumed - 1)});
        }
        partial.clear();
        return static_cast<int>(length);
    }

    static inline std::mutex mutex_;
    static inline std::vector<Line> lines_;
    static inline std::function<void()> hold_;
    static inline std::atomic<bool> first_{false};
};

// While one thread's line is in a slow writer, another thread traces: its
// line is written by its own call, on its own thread, not handed to the
// thread that was writing.
TEST_F(Concurrency, AThreadsLineIsWrittenByItsOwnCallBesideASlowWriter) {
    std::atomic<bool> in_writer{false};
    std::atomic<bool> other_returned{false};
    RecordingWriter::start([&] {
        in_writer = true;
        wait_until([&] { return other_returned.load(); }, std::chrono::milliseconds(200));
    });
    std::thread other([&] {
        wait_until([&] { return in_writer.load(); }, std::chrono::seconds(10));
        __tracef(ORVEL_INFO, nullptr, nullptr, 0, "other");
        other_returned = true;
    });
    __tracef(ORVEL_INFO, nullptr, nullptr, 0, "first");
    other.join();
    __settracer(nullptr, -1, nullptr);

    const std::vector<RecordingWriter::Line> lines = RecordingWriter::lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const RecordingWriter::Line& l : lines) {
        EXPECT_EQ(l.writing_tid, l.traced_tid) << "\"" << l.message << "\" was written by another thread";
    }
}

// Four threads trace more than a slow writer takes in: while the writer
// holds its first line, the others trace all they have (more than 4 MiB).
// Every line arrives, in each thread's order.
TEST_F(Concurrency, ASlowWriterGetsEveryLineOfFourThreadsInEachThreadsOrder) {
    constexpr int kTracers = 4;
    constexpr int kTracedLines = 2000;
    const std::string pad(1000, 'p');
    std::atomic<int> finished{0};
    RecordingWriter::start([&] {
        wait_until([&] { return finished.load() == kTracers - 1; }, std::chrono::milliseconds(500));
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kTracers; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kTracedLines; ++i) __tracef(ORVEL_INFO, nullptr, nullptr, 0, "%d %d %s", t, i, pad.c_str());
            finished.fetch_add(1);
        });
    }
    for (auto& th : threads) th.join();
    __settracer(nullptr, -1, nullptr);

    std::array<int, kTracers> next{};
    int out_of_order = 0;
    for (const RecordingWriter::Line& l : RecordingWriter::lines()) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(l.message.c_str(), "%d %d", &t, &i), 2) << l.message;
        ASSERT_TRUE(t >= 0 && t < kTracers) << l.message;
        if (i != next[static_cast<std::size_t>(t)]) ++out_of_order;
        next[static_cast<std::size_t>(t)] = i + 1;
    }
    EXPECT_EQ(out_of_order, 0) << "lines missing or out of a thread's order";
    for (int t = 0; t < kTracers; ++t) EXPECT_EQ(next[static_cast<std::size_t>(t)], kTracedLines) << "thread " << t;
}

// Counts the writer and hook calls made once the call that replaced or
// removed them has returned (replaced is set right after it).
std::atomic<bool> replaced{false};
std::atomic<int> late_calls{0};
std::atomic<bool> in_writer{false};
std::atomic<bool> released{false};
std::function<void()> when_in_writer;

int counting_writer(int, const void*, unsigned int length) {
    if (replaced.load()) late_calls.fetch_add(1);
    if (!in_writer.exchange(true)) when_in_writer();
    return static_cast<int>(length);
}
void counting_hook(int, int) {
    if (replaced.load()) late_calls.fetch_add(1);
}
int discarding_writer(int, const void*, unsigned int length) { return static_cast<int>(length); }

// Another thread replaces the writer while one thread's line is in it and a
// third thread's line waits: neither reaches the old writer or hook after
// the replacing call has returned. Nor does the rest of a line whose writer
// closes the trace itself.
TEST_F(Concurrency, NoWriterOrHookCallOnceTheCallThatReplacedThemHasReturned) {
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(null_fd, 0);
    const std::pair<const char*, std::function<void()>> setters[] = {
        {"__closetracefile", [] { __closetracefile(); }},
        {"__settracer", [] { __settracer(discarding_writer, -1, nullptr); }},
        {"__settracefd", [null_fd] { __settracefd(null_fd); }},
    };
    for (const auto& [name, set] : setters) {
        SCOPED_TRACE(name);
        replaced = false;
        late_calls = 0;
        in_writer = false;
        released = false;
        when_in_writer = [] { wait_until([] { return released.load(); }, std::chrono::seconds(10)); };
        __settraceopts(0x0);
        __settracer(counting_writer, -1, counting_hook);

        std::thread writing([] { __tracef(ORVEL_INFO, nullptr, nullptr, 0, "in the writer"); });
        ASSERT_TRUE(wait_until([] { return in_writer.load(); }, std::chrono::seconds(10)));
        std::atomic<bool> traced{false};
        std::thread waiting([&traced] {
            __tracef(ORVEL_INFO, nullptr, nullptr, 0, "waiting");
            traced = true;
        });
        wait_until([&traced] { return traced.load(); }, std::chrono::milliseconds(200));
        std::thread replacing([&set] {
            set();
            replaced = true;
        });
        wait_until([] { return replaced.load(); }, std::chrono::milliseconds(200));
        released = true;
        writing.join();
        waiting.join();
        replacing.join();
        __tracef(ORVEL_INFO, nullptr, nullptr, 0, "after");
        EXPECT_EQ(late_calls.load(), 0);
    }

    // The message and the line feed are two pieces: the writer closes the
    // trace on the first.
    replaced = false;
    late_calls = 0;
    in_writer = false;
    when_in_writer = [] {
        __closetracefile();
        replaced = true;
    };
    __settraceopts(0x0);
    __settracer(counting_writer, -1, counting_hook);
    __tracef(ORVEL_INFO, nullptr, nullptr, 0, "closing");
    EXPECT_EQ(late_calls.load(), 0) << "writer or hook called after the writer's own __closetracefile";
    __closetracefile();
    ::close(null_fd);
}

}  // namespace
}  // namespace orvel_test
