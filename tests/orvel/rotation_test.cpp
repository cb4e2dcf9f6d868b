// Rotation of the log file by size and by age, and the numbered copies.
#include "rotation.h"
#include "trace_state.h"
#include "trace_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace orvel_test {
namespace {

namespace fs = std::filesystem;

std::atomic<std::int64_t> test_now{1'000'000};
std::int64_t test_clock() noexcept { return test_now.load(); }

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

}  // namespace
}  // namespace orvel_test
