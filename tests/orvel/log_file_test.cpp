// The log file: opening, refusing, closing; the process always goes on.
#include "trace_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvel_test {
namespace {

namespace fs = std::filesystem;
using LogFile = TraceTest;

constexpr const char* kOpenFailure = "Can't open log file\n";

TEST_F(LogFile, LinesAreAppendedToTheFile) {
    const fs::path log = temp_dir() / "a.log";
    {
        std::FILE* f = std::fopen(log.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("old\n", f);
        std::fclose(f);
    }
    __settraceopts(0x0);
    __settracefile(log.c_str());
    EXPECT_GE(__gettracefd(), 0);
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "new");

    // A second file closes the first: later lines go to the second only.
    const fs::path second = temp_dir() / "b.log";
    __settracefile(second.c_str());
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "second");
    __closetracefile();
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
    EXPECT_EQ(read_file(log), "old\nnew\n");
    EXPECT_EQ(read_file(second), "second\n");
    EXPECT_EQ(__gettracefd(), -1);
}

TEST_F(LogFile, UnopenablePathLeavesTheProcessAliveWithoutOutput) {
    const fs::path missing = temp_dir() / "no-such-dir" / "x.log";
    const ChildResult child = run_in_child([&missing] {
        __settraceopts(0x0);
        __settracefile(missing.c_str());
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
        __settracefile(nullptr);
        __settracefile("");
        return __gettracefd() == -1 ? 0 : 1;
    });
    EXPECT_EQ(child.exit_code, 0) << "the process must go on";
    EXPECT_EQ(child.err, std::string(kOpenFailure) + kOpenFailure + kOpenFailure);
    EXPECT_EQ(child.out, "");
    EXPECT_FALSE(fs::exists(missing.parent_path()));
}

TEST_F(LogFile, ALinkPlantedAtTheLogNameIsNotFollowed) {
    const fs::path target = temp_dir() / "target.txt";
    {
        std::FILE* f = std::fopen(target.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("keep\n", f);
        std::fclose(f);
    }
    const fs::path link = temp_dir() / "linked.log";
    fs::create_symlink(target, link);
    const ChildResult child = run_in_child([&link] {
        __settraceopts(0x0);
        __settracefile(link.c_str());
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
        return __gettracefd() == -1 ? 0 : 1;
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.err, kOpenFailure);
    EXPECT_EQ(read_file(target), "keep\n");
    EXPECT_TRUE(fs::is_symlink(link));
}

// A FIFO with no reader would block an open for writing forever; a
// directory is no log file either. The alarm ends a child that hangs.
TEST_F(LogFile, AFifoOrADirectoryAtTheLogNameIsRefusedAtOnce) {
    const fs::path fifo = temp_dir() / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path dir = temp_dir() / "dir.log";
    fs::create_directory(dir);
    const ChildResult child = run_in_child([&] {
        ::alarm(10);
        __settraceopts(0x0);
        __settracefile(fifo.c_str());
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
        if (__gettracefd() != -1) return 1;
        __settracefile(dir.c_str());
        return __gettracefd() == -1 ? 0 : 2;
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.err, std::string(kOpenFailure) + kOpenFailure);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(LogFile, PathsLongerThan255AreRefusedNotCut) {
    // temp_dir + "/" + name must come to exactly 255 and 256 characters.
    const std::string dir = temp_dir().string() + "/";
    ASSERT_LT(dir.size(), 200u);
    const std::string fits = dir + std::string(255 - dir.size(), 'a');
    const std::string too_long = dir + std::string(256 - dir.size(), 'a');
    ASSERT_EQ(fits.size(), 255u);

    const ChildResult child = run_in_child([&] {
        __settraceopts(0x0);
        __settracefile(too_long.c_str());
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
        if (__gettracefd() != -1) return 1;
        __settracefile(fits.c_str());
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "kept");
        return __gettracefd() >= 0 ? 0 : 2;
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.err, kOpenFailure);
    EXPECT_EQ(read_file(fits), "kept\n");
    // The refused path was not cut to an existing or new name.
    std::vector<fs::path> entries(fs::directory_iterator(temp_dir()), fs::directory_iterator{});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].string(), fits);
}

// Daemons change folder after they set their log: a relative path names
// the file in the folder it was set in, for the lines and the rotation.
TEST_F(LogFile, ARelativePathStaysTheFileItWasSetToAfterAChangeOfFolder) {
    const fs::path first = temp_dir() / "A";
    const fs::path second = temp_dir() / "B";
    fs::create_directory(first);
    fs::create_directory(second);
    {
        std::FILE* f = std::fopen((second / "app.log").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("someone else\n", f);
        std::fclose(f);
    }
    const ChildResult child = run_in_child([&] {
        if (::chdir(first.c_str()) != 0) return 1;
        __settraceopts(ORVEL_OPT_ROTATE);
        __setrotatesize(1);
        __setrotatebacklogs(2);
        __settracefile("app.log");
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "one");
        if (::chdir(second.c_str()) != 0) return 2;
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "two");
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "three");
        return 0;
    });
    ASSERT_EQ(child.exit_code, 0) << child.err;
    EXPECT_EQ(read_file(first / "app.log"), "three\n");
    EXPECT_EQ(read_file(first / "app.log.1"), "two\n");
    EXPECT_EQ(read_file(first / "app.log.2"), "one\n");
    EXPECT_EQ(read_file(second / "app.log"), "someone else\n");
    EXPECT_FALSE(fs::exists(second / "app.log.1"));
}

// Setting the descriptor that is already the output closes nothing: the
// lines go on to it, and the host's next open cannot get its number.
TEST_F(LogFile, SettingTheCurrentDescriptorAgainKeepsItOpen) {
    const fs::path log = temp_dir() / "fd.log";
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    __settraceopts(0x0);
    __settracefd(fd);
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "before");
    __settracefd(fd);
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the descriptor was closed";
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "after");
    EXPECT_EQ(__gettracefd(), fd);
    __closetracefile();
    EXPECT_EQ(read_file(log), "before\nafter\n");
}

TEST_F(LogFile, NewFileIsCreatedWithMode0664) {
    const fs::path log = temp_dir() / "new.log";
    const mode_t old_mask = ::umask(0);
    __settracefile(log.c_str());
    ::umask(old_mask);
    struct stat st {};
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
}

}  // namespace
}  // namespace orvel_test
