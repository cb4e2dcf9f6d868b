// Rotation of the log file by size and by age, and the numbered copies.
#include "rotation.h"
#include "trace_state.h"
#include "trace_fixture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>

namespace orvel_test {
namespace {

namespace fs = std::filesystem;

std::atomic<std::int64_t> test_now{1'000'000};
std::int64_t test_clock() noexcept { return test_now.load(); }

// The rotation clock of processes that share a log, in memory they share.
std::atomic<std::int64_t>* shared_now = nullptr;
std::int64_t shared_clock() noexcept { return shared_now->load(); }

// A child process that shares the log: on 'o' it sets the log, on 'l' it
// traces its next line "NAME n", each by the shared clock, and answers once
// done; on 'q' it ends.
class TracingProcess {
public:
    TracingProcess(const fs::path& log, char name) {
        int commands[2];
        int answers[2];
        if (::pipe(commands) != 0 || ::pipe(answers) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            orvel::set_rotation_clock(shared_clock);
            int n = 0;
            for (char command = 0; ::read(commands[0], &command, 1) == 1 && command != 'q';) {
                if (command == 'o') {
                    __settraceopts(ORVEL_OPT_ROTATE);
                    __settracefile(log.c_str());
                } else {
                    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "%c %d", name, n++);
                }
                if (::write(answers[1], &command, 1) != 1) break;
            }
            ::_exit(0);
        }
        ::close(commands[0]);
        ::close(answers[1]);
        commands_ = commands[1];
        answers_ = answers[0];
    }
    ~TracingProcess() {
        run('q');
        ::close(commands_);
        ::close(answers_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    TracingProcess(const TracingProcess&) = delete;
    TracingProcess& operator=(const TracingProcess&) = delete;

    // True once the child has done it.
    bool run(char command) {
        return ::write(commands_, &command, 1) == 1 && (command == 'q' || ::read(answers_, &command, 1) == 1);
    }

private:
    pid_t pid_ = -1;
    int commands_ = -1;
    int answers_ = -1;
};

class Rotation : public TraceTest {
protected:
    void SetUp() override {
        TraceTest::SetUp();
        orvel::set_rotation_clock(test_clock);
        log_ = temp_dir() / "app.log";
    }

    void open_log() {
        __settraceopts(ORVEL_OPT_ROTATE);
        __settracefile(log_.c_str());
        ASSERT_GE(__gettracefd(), 0);
    }

    fs::path copy(unsigned n) const { return log_.string() + "." + std::to_string(n); }

    static void write_text(const fs::path& path, const std::string& text) {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }

    static void line(const std::string& text) { __tracef(ORVEL_ERR, nullptr, nullptr, 0, "%s", text.c_str()); }

    fs::path log_;
};

TEST_F(Rotation, BySizeOnceTheFileHasReachedIt) {
    __setrotatesize(1000);
    __setrotatebacklogs(2);
    open_log();
    line(std::string(998, 'a'));  // 999 bytes with the line feed
    line("123456789");            // 999 < 1000: still the same file
    EXPECT_EQ(fs::file_size(log_), 1009u);
    EXPECT_FALSE(fs::exists(copy(1)));
    line("next");
    EXPECT_EQ(fs::file_size(copy(1)), 1009u);
    EXPECT_EQ(read_file(log_), "next\n");
    EXPECT_FALSE(fs::exists(copy(2)));
}

TEST_F(Rotation, NeverWithoutSizeAndInterval) {
    open_log();
    for (int i = 0; i < 50; ++i) line(std::string(100, 'b'));
    test_now += 1'000'000;
    line("late");
    EXPECT_EQ(fs::file_size(log_), 50u * 101u + 5u);
    EXPECT_FALSE(fs::exists(copy(1)));
}

TEST_F(Rotation, NeverWithoutTheRotateOption) {
    __setrotatesize(10);
    open_log();
    __settraceopts(0x0);
    line("first line");
    line("second line");
    EXPECT_EQ(read_file(log_), "first line\nsecond line\n");
}

TEST_F(Rotation, ByAgeFromTheOpenTime) {
    __setrotateinterval(60);
    __setrotatebacklogs(1);
    const std::int64_t opened = test_now.load();
    open_log();
    test_now = opened + 60;
    line("at 60");  // equal age does not rotate
    EXPECT_FALSE(fs::exists(copy(1)));
    test_now = opened + 61;
    line("at 61");
    EXPECT_EQ(read_file(copy(1)), "at 60\n");
    EXPECT_EQ(read_file(log_), "at 61\n");
    // The new file's age counts from the rotation.
    test_now = opened + 121;
    line("at 121");
    EXPECT_EQ(read_file(copy(1)), "at 60\n");
    test_now = opened + 122;
    line("at 122");
    EXPECT_EQ(read_file(copy(1)), "at 61\nat 121\n");
}

TEST_F(Rotation, ShiftsCopiesAndDeletesThoseBeyondTheBacklogs) {
    for (unsigned n = 1; n <= 4; ++n) write_text(copy(n), "copy " + std::to_string(n) + "\n");
    __setrotatesize(1);
    __setrotatebacklogs(2);
    write_text(log_, "live\n");
    open_log();
    line("fresh");
    EXPECT_EQ(read_file(log_), "fresh\n");
    EXPECT_EQ(read_file(copy(1)), "live\n");
    EXPECT_EQ(read_file(copy(2)), "copy 1\n");
    EXPECT_FALSE(fs::exists(copy(3)));
    EXPECT_FALSE(fs::exists(copy(4)));
}

TEST_F(Rotation, NoBacklogsDeletesTheLiveFileAndAnUnbrokenRunOfCopies) {
    for (const unsigned n : {1u, 2u, 4u}) write_text(copy(n), "copy " + std::to_string(n) + "\n");
    __setrotatesize(1);
    write_text(log_, "live\n");
    open_log();
    line("fresh");
    EXPECT_EQ(read_file(log_), "fresh\n");
    EXPECT_FALSE(fs::exists(copy(1)));
    EXPECT_FALSE(fs::exists(copy(2)));
    EXPECT_EQ(read_file(copy(4)), "copy 4\n");  // after the gap at 3
}

TEST_F(Rotation, OnlyTheFileOpenedByName) {
    __setrotatesize(1);
    open_log();
    line("one");
    // A custom writer or a hook turns rotation off, even with the log path kept.
    __settracer(Capture::writer, __gettracefd(), nullptr);
    line("two");
    line("three");
    EXPECT_FALSE(fs::exists(copy(1)));
    EXPECT_EQ(Capture::text(), "two\nthree\n");

    // A descriptor set by number has no log path.
    const int fd = ::open(log_.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    __settracefd(fd);
    line("four");
    line("five");
    EXPECT_EQ(read_file(log_), "one\nfour\nfive\n");
}

TEST_F(Rotation, NeverWhileAHookIsInstalled) {
    __setrotatesize(1);
    __setrotatebacklogs(2);
    open_log();
    line("one");
    // The file's own writer and descriptor stay; only the hook is added.
    __settracer(orvel::default_writer, __gettracefd(), Capture::hook);
    line("two");
    line("three");
    EXPECT_FALSE(fs::exists(copy(1)));
    EXPECT_EQ(read_file(log_), "one\ntwo\nthree\n");
    EXPECT_EQ(Capture::hook_calls().size(), 4u);  // before and after each line
}

TEST_F(Rotation, FileRemovedFromOutsideKeepsTheOpenDescriptor) {
    __setrotatesize(1);
    open_log();
    const int fd = __gettracefd();
    fs::remove(log_);
    line("into the removed file");
    EXPECT_EQ(__gettracefd(), fd);
    EXPECT_FALSE(fs::exists(log_));
}

TEST_F(Rotation, UnopenableNewFileLeavesTheProcessAliveWithoutOutput) {
    __setrotatesize(1);
    open_log();
    line("before");
    // A directory in place of the log file: it is not deleted, and the
    // path cannot be opened as a file.
    fs::remove(log_);
    fs::create_directory(log_);
    const ChildResult child = run_in_child([] {
        line("lost");
        line("lost too");
        return __gettracefd() == -1 ? 0 : 1;
    });
    EXPECT_EQ(child.exit_code, 0) << "the process must go on";
    EXPECT_EQ(child.err, "Can't open log file\n");
    EXPECT_TRUE(fs::is_directory(log_));
    EXPECT_TRUE(fs::is_empty(log_));
}


// Two processes share one log rotated by age, opened a second apart. Each
// follows the other's rotation at its next line: after every line, that line
// is the last of the live file, never in the copy just made or in the deleted
// file; and only one rotates when both are due.
TEST_F(Rotation, ProcessesSharingALogByAgeWriteEachLineToTheLiveFile) {
    void* shared = ::mmap(nullptr, sizeof(std::atomic<std::int64_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    shared_now = new (shared) std::atomic<std::int64_t>(100);
    __setrotateinterval(3);
    for (const unsigned backlogs : {0u, 5u}) {
        SCOPED_TRACE("backlogs " + std::to_string(backlogs));
        for (const auto& entry : fs::directory_iterator(temp_dir())) fs::remove(entry.path());
        __setrotatebacklogs(backlogs);
        TracingProcess a(log_, 'A');
        TracingProcess b(log_, 'B');
        shared_now->store(100);
        ASSERT_TRUE(a.run('o'));
        shared_now->store(101);
        ASSERT_TRUE(b.run('o'));
        // A rotates at 104 and 108 (its age counts from its rotations), B at
        // 112; at 112 A is due too, but follows B's rotation instead.
        const std::pair<char, std::int64_t> lines[] = {{'A', 101}, {'B', 101}, {'A', 102}, {'B', 102},
                                                       {'A', 104}, {'B', 104}, {'A', 105}, {'B', 105},
                                                       {'A', 108}, {'B', 108}, {'B', 112}, {'A', 112}};
        int next[2] = {0, 0};
        for (const auto& [name, at] : lines) {
            shared_now->store(at);
            TracingProcess& process = name == 'A' ? a : b;
            ASSERT_TRUE(process.run('l'));
            const std::string line = std::string(1, name) + " " + std::to_string(next[name - 'A']++);
            const std::vector<std::string> live = split_lines(read_file(log_));
            EXPECT_TRUE(!live.empty() && live.back() == line) << line << " at " << at << " is not in the live file";
        }
        EXPECT_EQ(read_file(log_), "B 5\nA 5\n");
        if (backlogs == 0) {
            EXPECT_FALSE(fs::exists(copy(1)));
            continue;
        }
        EXPECT_EQ(read_file(copy(1)), "A 4\nB 4\n");
        EXPECT_EQ(read_file(copy(2)), "A 2\nB 2\nA 3\nB 3\n");
        EXPECT_EQ(read_file(copy(3)), "A 0\nB 0\nA 1\nB 1\n");
        EXPECT_FALSE(fs::exists(copy(4)));
    }
    shared_now = nullptr;
    ::munmap(shared, sizeof(std::atomic<std::int64_t>));
}

}  // namespace
}  // namespace orvel_test
