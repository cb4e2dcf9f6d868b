// Setters of the trace state: levels by name, call depth, output choice.
#include "trace_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvel_test {
namespace {

using Settings = TraceTest;

TEST_F(Settings, LevelByNamePrefix) {
    const std::pair<const char*, unsigned> cases[] = {
        {"E", 4},   {"ERR", 4}, {"W", 5},   {"WARN", 5}, {"N", 6},     {"I", 7},       {"D", 8},
        {"DEB", 8}, {"F", 9},   {"FULL", 9}, {"", 8},    {"err", 8},   {"DBG", 8},     {"WAR", 5},
        {"ERROR", 8}, {"FULLY", 8}, {"NOTICE", 6}, {"INF", 7},
    };
    for (const auto& [name, level] : cases) {
        __settracelevel(1);
        __settracelevel_s(name);
        EXPECT_EQ(__gettracelevel(), level) << '"' << name << '"';
    }
    __settracelevel(1);
    __settracelevel_s(nullptr);
    EXPECT_EQ(__gettracelevel(), 8u);
}

TEST_F(Settings, LevelFilterIsUnsigned) {
    __settracelevel(5);
    EXPECT_EQ(__istraced(5), 1);
    EXPECT_EQ(__istraced(6), 0);
    EXPECT_EQ(__istraced(0), 1);
    __settracelevel(0xFFFFFFFFu);  // not validated
    EXPECT_EQ(__istraced(0xFFFFFFFFu), 1);
}

TEST_F(Settings, SwitchingDepthTrackingOnStartsAtZero) {
    __settraceopts(0x200);
    EXPECT_EQ(__get_call_depth(), 0);
    __incr_call_depth();
    __incr_call_depth();
    __settraceopts(0x2FF);  // still on: the depth is kept
    EXPECT_EQ(__get_call_depth(), 2);
    __decr_call_depth();
    __decr_call_depth();
    EXPECT_EQ(__get_call_depth(), 0);
    __decr_call_depth();  // below zero switches tracking off
    EXPECT_EQ(__get_call_depth(), -1);
    EXPECT_EQ(__gettraceopts() & 0x200u, 0u);
    EXPECT_EQ(__gettraceopts(), 0xFFu);
    __incr_call_depth();  // off: nothing happens
    EXPECT_EQ(__get_call_depth(), -1);
}

TEST_F(Settings, NegativeDepthSwitchesTrackingOff) {
    __settraceopts(0x200);
    __set_call_depth(7);
    EXPECT_EQ(__get_call_depth(), 7);
    EXPECT_EQ(__gettraceopts(), 0x200u);
    __set_call_depth(-3);
    EXPECT_EQ(__get_call_depth(), -3);
    EXPECT_EQ(__gettraceopts(), 0u);
    __decr_call_depth();
    EXPECT_EQ(__get_call_depth(), -3);
}

TEST_F(Settings, NoOutputDropsLinesUntilStandardOutputIsAllowed) {
    const ChildResult child = run_in_child([] {
        __settraceopts(0x0);
        __settracefd(0);  // stored, but no writer
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
        if (__gettracefd() != 0) return 1;
        __settraceopts(0x800);
        __tracef(ORVEL_ERR, nullptr, nullptr, 0, "shown");
        return __gettracefd() == 1 ? 0 : 2;  // standard output stays the output
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.out, "shown\n");
}

TEST_F(Settings, HookRunsAroundEachLineWithTheDescriptor) {
    __settraceopts(0x0);
    __settracer(Capture::writer, 42, Capture::hook);
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "a");
    __tracef(ORVEL_FULL, nullptr, nullptr, 0, "filtered");
    const std::vector<std::pair<int, int>> expected{{42, 1}, {42, 2}};
    EXPECT_EQ(Capture::hook_calls(), expected);
    EXPECT_EQ(Capture::text(), "a\n");
}

TEST_F(Settings, ClosingKeepsForeignDescriptorsOpen) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    __settraceopts(0x0);
    __settracefd(fds[1]);
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "to pipe");
    __closetracefile();
    EXPECT_EQ(__gettracefd(), -1);
    EXPECT_NE(::fcntl(fds[1], F_GETFD), -1) << "a pipe must stay open";
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "dropped");
    ::close(fds[1]);
    char buf[64] = {};
    EXPECT_EQ(::read(fds[0], buf, sizeof buf), 8);
    EXPECT_STREQ(buf, "to pipe\n");
    ::close(fds[0]);

    const auto file = temp_dir() / "regular.log";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    __settracefd(fd);
    __closetracefile();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "a regular file is closed";
}

TEST_F(Settings, TraceCallsKeepErrno) {
    __settraceopts(0xFF);
    __settracer(nullptr, -1, nullptr);
    __settracefd(1000);  // writes fail with EBADF
    errno = ENOSPC;
    __tracef(ORVEL_ERR, "f", "p.cpp", 1, "x");
    EXPECT_EQ(errno, ENOSPC);
    __trace(ORVEL_ERR, "f", "p.cpp", 1, __tracev("x"));
    EXPECT_EQ(errno, ENOSPC);
    const unsigned char data[20] = {};
    __xdump(ORVEL_ERR, "f", "p.cpp", 1, data, sizeof data);
    EXPECT_EQ(errno, ENOSPC);
}

TEST_F(Settings, FilteredLinesWriteNothingAndFreeTheMessage) {
    capture_with(0xFF);
    __settracer(Capture::writer, 3, Capture::hook);
    // The leak checker of the sanitizer build fails the run if the message stays.
    __trace(ORVEL_FULL, "f", "p.cpp", 1, __tracev("%s", std::string(500, 'x').c_str()));
    __tracef(ORVEL_FULL, "f", "p.cpp", 1, "y");
    __xdump(ORVEL_FULL, "f", "p.cpp", 1, "abc", 3);
    EXPECT_EQ(Capture::text(), "");
    EXPECT_TRUE(Capture::hook_calls().empty());
}

TEST_F(Settings, FormattingGrowsAndFailsSafely) {
    const std::string long_text(5000, 'q');
    char* text = __tracev("<%s>%d", long_text.c_str(), 7);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "<" + long_text + ">7");
    std::free(text);

    text = __tracev("%s", "short");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "short");
    std::free(text);

    // A wide character with no narrow form is an error of the formatter.
    EXPECT_EQ(__tracev("%ls", L"\x20ac"), nullptr);
    const char* no_format = nullptr;
    // The hardened build makes a format that is no literal an error.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    EXPECT_EQ(__tracev(no_format), nullptr);

    capture_with(0x0);
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "%ls", L"\x20ac");
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, no_format);
#pragma GCC diagnostic pop
    __trace(ORVEL_ERR, nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(Capture::text(), "");
}

}  // namespace
}  // namespace orvel_test
