// Layout of one log line: pieces, their order, colours and location.
#include "trace_fixture.h"
#include "trace_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <semaphore>
#include <thread>

namespace orvel_test {
namespace {

using LineLayout = TraceTest;

constexpr const char* kWinPath = "C:\\dir\\file.cpp";

// The process piece of the calling process and thread, as the kernel tells them now.
std::string ids_piece(unsigned options) {
    const int pid = static_cast<int>(::getpid());
    const auto tid = static_cast<unsigned>(::gettid());
    char buf[48];
    if (options == 0x2000) std::snprintf(buf, sizeof buf, "(%d)", pid);
    if (options == 0x4000) std::snprintf(buf, sizeof buf, "(0x%x)", tid);
    if (options == 0x6000) std::snprintf(buf, sizeof buf, "(%d:0x%x)", pid, tid);
    return buf;
}

std::string line_of(unsigned options, unsigned level, const char* message = "x", const char* tag = nullptr) {
    Capture::reset();
    TraceTest::capture_with(options, tag);
    __trace(level, "f", kWinPath, 12, __tracev("%s", message));
    return Capture::text();
}

TEST_F(LineLayout, DefaultOptionsGiveLevelTimeStampMessageAndLocation) {
    const std::string line = line_of(0xFF, ORVEL_ERR);
    const std::regex layout(R"(ERR \[[ 1-3][0-9]/[01][0-9]/[0-9]{2} [ 12][0-9]:[0-5][0-9]:[0-6][0-9]\] x \[f:file\.cpp:12\]\n)");
    EXPECT_TRUE(std::regex_match(line, layout)) << line;
}

TEST_F(LineLayout, TimeStampPiece) {
    std::tm t{};
    t.tm_mday = 7;
    t.tm_mon = 11;
    t.tm_year = 126;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 38;
    EXPECT_EQ(orvel::time_stamp_piece(0x3, t, 42), "[ 7/12/26  9:05:38]");
    EXPECT_EQ(orvel::time_stamp_piece(0x1, t, 42), "[ 7/12/26]");
    EXPECT_EQ(orvel::time_stamp_piece(0x2, t, 42), "[ 9:05:38]");
    EXPECT_EQ(orvel::time_stamp_piece(0x10003, t, 42), "[ 7/12/26  9:05:38.042]");
    // Milliseconds belong to the time: without it they are not shown.
    EXPECT_EQ(orvel::time_stamp_piece(0x10001, t, 42), "[ 7/12/26]");
    EXPECT_EQ(orvel::time_stamp_piece(0x10000, t, 42), "");
}

TEST_F(LineLayout, LevelPiece) {
    EXPECT_EQ(line_of(0x4, 3), "[3] x\n");        // no row: the number, then the separator
    EXPECT_EQ(line_of(0x4, ORVEL_ERR), "[4] x\n");  // number without 0x8
    EXPECT_EQ(line_of(0xC, ORVEL_WARN), "WAR  x\n");  // the name's blank, then the separator
    __settracelevel(ORVEL_FULL);
    EXPECT_EQ(line_of(0xC, ORVEL_FULL), "FUL  x\n");
    EXPECT_EQ(line_of(0xC, 2), "[2] x\n");
    EXPECT_EQ(line_of(0x8, ORVEL_ERR), "x\n");  // 0x8 alone shows nothing
    EXPECT_EQ(line_of(0x0, ORVEL_ERR), "x\n");
}

TEST_F(LineLayout, ProcessThreadAndTagPieces) {
    for (const unsigned options : {0x2000u, 0x4000u, 0x6000u}) {
        EXPECT_EQ(line_of(options, ORVEL_ERR), ids_piece(options) + " x\n");
    }
    EXPECT_EQ(line_of(0x80, ORVEL_ERR, "x", "tag"), "tag x\n");
    EXPECT_EQ(line_of(0x80, ORVEL_ERR), " x\n");  // the separator stays without a tag
    EXPECT_EQ(line_of(0x2084, ORVEL_ERR, "m", "tag"), "[4]" + ids_piece(0x2000) + "tag m\n");
}

TEST_F(LineLayout, ForkedChildShowsItsOwnProcessAndThreadIds) {
    const std::string parent_line = line_of(0x6000, ORVEL_ERR);
    const ChildResult child = run_in_child([] {
        const std::string line = line_of(0x6000, ORVEL_ERR);
        std::fputs(line.c_str(), stdout);
        return line == ids_piece(0x6000) + " x\n" ? 0 : 1;
    });
    EXPECT_EQ(child.exit_code, 0) << "parent: " << parent_line << "child: " << child.out;
    EXPECT_NE(child.out, parent_line);
}

TEST_F(LineLayout, ThreadSeesTagAndColourSetByAnotherThread) {
    capture_with(0x180, "one");
    std::binary_semaphore first_written{0};
    std::binary_semaphore changed{0};
    std::thread writer([&] {
        __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("a"));
        first_written.release();
        changed.acquire();
        __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("b"));
    });
    first_written.acquire();
    __settracetag("two");
    __settracecolor(ORVEL_ERR, 2);
    changed.release();
    writer.join();
    EXPECT_EQ(Capture::text(), "one \x1b[31;1ma\x1b[0m\ntwo \x1b[32mb\x1b[0m\n");
}

TEST_F(LineLayout, TagIsTheCallersTextNotACopy) {
    char tag[] = "abc";
    capture_with(0x80, tag);
    std::memcpy(tag, "xyz", 3);
    __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("m"));
    EXPECT_EQ(Capture::text(), "xyz m\n");
}

TEST_F(LineLayout, IndentationFollowsDepthUpToForty) {
    capture_with(0x8200);
    __set_call_depth(3);
    __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("a"));
    __set_call_depth(55);
    __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("b"));
    __set_call_depth(0);
    __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("c"));
    __settraceopts(0x8000);  // indentation needs depth tracking too
    __set_call_depth(5);
    __trace(ORVEL_ERR, nullptr, nullptr, 0, __tracev("d"));
    EXPECT_EQ(Capture::text(), "   a\n" + std::string(40, ' ') + "b\nc\nd\n");
}

TEST_F(LineLayout, ColourSequences) {
    EXPECT_EQ(line_of(0x100, ORVEL_DEBUG), "\x1b[37mx\x1b[0m\n");
    EXPECT_EQ(line_of(0x100, ORVEL_ERR), "\x1b[31;1mx\x1b[0m\n");
    EXPECT_EQ(line_of(0x100, ORVEL_INFO), "\x1b[34;1mx\x1b[0m\n");
    // With a location, it takes the FULL colour and the reset follows the line feed.
    EXPECT_EQ(line_of(0x130, ORVEL_ERR), "\x1b[31;1mx\x1b[30;1m [f:file.cpp]\n\x1b[0m");
    // A level without a row takes the default colour, none until one is set.
    EXPECT_EQ(line_of(0x100, 3), "x\x1b[0m\n");
    __settracecolor(3, 6);
    EXPECT_EQ(line_of(0x100, 3), "\x1b[33mx\x1b[0m\n");
    EXPECT_EQ(line_of(0x100, 2), "\x1b[33mx\x1b[0m\n");
    // A negative row colour falls back to the default colour.
    __settracecolor(ORVEL_ERR, -1);
    EXPECT_EQ(line_of(0x100, ORVEL_ERR), "\x1b[33mx\x1b[0m\n");
    __settracecolor(0, -1);
    EXPECT_EQ(line_of(0x100, ORVEL_ERR), "x\x1b[0m\n");
}

TEST_F(LineLayout, LocationPieceLeavesOutAbsentParts) {
    EXPECT_EQ(line_of(0x70, ORVEL_ERR), "x [f:file.cpp:12]\n");
    EXPECT_EQ(line_of(0x30, ORVEL_ERR), "x [f:file.cpp]\n");
    EXPECT_EQ(line_of(0x60, ORVEL_ERR), "x [file.cpp:12]\n");
    EXPECT_EQ(line_of(0x40, ORVEL_ERR), "x []\n");  // a line number needs the file name
    EXPECT_EQ(line_of(0x10, ORVEL_ERR), "x [f]\n");

    capture_with(0x70);
    Capture::reset();
    __trace(ORVEL_ERR, nullptr, "src/a.cpp", 3, __tracev("y"));
    __trace(ORVEL_ERR, "g", nullptr, 3, __tracev("z"));
    __trace(ORVEL_ERR, nullptr, nullptr, 3, __tracev("w"));
    __trace(ORVEL_ERR, "g", "plain.cpp", 3, __tracev("v"));
    EXPECT_EQ(Capture::text(), "y [a.cpp:3]\nz [g]\nw\nv [g:plain.cpp:3]\n");
}

TEST_F(LineLayout, ModuleNameIsTheCallingProgram) {
    capture_with(0x40010);
    __trace(ORVEL_ERR, "f", kWinPath, 1, __tracev("m"));
    __tracef(ORVEL_ERR, nullptr, nullptr, 1, "n");
    EXPECT_EQ(Capture::text(), "m [orvel_tests:f]\nn [orvel_tests]\n");
}

TEST_F(LineLayout, LongSourceBaseNameIsWrittenWhole) {
    const std::string name = std::string(300, 'n') + ".cpp";
    const std::string path = "/some/dir/" + name;
    capture_with(0x60);
    __trace(ORVEL_ERR, nullptr, path.c_str(), 77, __tracev("m"));
    EXPECT_EQ(Capture::text(), "m [" + name + ":77]\n");
}

TEST_F(LineLayout, LongLineIsWrittenWholeToAWriterAndToAFile) {
    std::string message;
    for (int i = 0; i < 40; ++i) message += std::string(60, static_cast<char>('a' + i % 26)) + "\t";
    std::string escaped;
    for (const char c : message) escaped += c == '\t' ? std::string("\\t") : std::string(1, c);
    const std::string expected = "T " + escaped + " [f:file.cpp]\n";

    capture_with(0xB0, "T");
    __tracef(ORVEL_ERR, "f", kWinPath, 5, "%s", message.c_str());
    EXPECT_EQ(Capture::text(), expected);

    const auto log = temp_dir() / "long.log";
    __settracefile(log.c_str());
    __tracef(ORVEL_ERR, "f", kWinPath, 5, "%s", message.c_str());
    __trace(ORVEL_ERR, "f", kWinPath, 5, __tracev("%s", message.c_str()));
    __closetracefile();
    EXPECT_EQ(read_file(log), expected + expected);
}

TEST_F(LineLayout, BaseName) {
    EXPECT_EQ(orvel::base_name("a/b\\c.cpp"), "c.cpp");
    EXPECT_EQ(orvel::base_name("a\\b/c.cpp"), "c.cpp");
    EXPECT_EQ(orvel::base_name("c.cpp"), "c.cpp");
    EXPECT_EQ(orvel::base_name("dir/"), "");
}

TEST_F(LineLayout, EscapingLeavesOneRealLineFeedPerLine) {
    EXPECT_EQ(orvel::escape_message("\a\b\t\n\v\f\r\\"), "\\a\\b\\t\\n\\v\\f\\r\\\\");
    EXPECT_EQ(orvel::escape_message(std::string("\x00\x01\x1b\x1f\x7f", 5)), "\\x00\\x01\\x1b\\x1f\\x7f");
    EXPECT_EQ(orvel::escape_message("\xe9\x80\xff~ A"), "\xe9\x80\xff~ A");

    capture_with(0x0);
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "two\nlines\r\n");
    EXPECT_EQ(Capture::text(), "two\\nlines\\r\\n\n");
}

TEST_F(LineLayout, PiecesOfALineAreHandedOverSeparately) {
    line_of(0xFF, ORVEL_ERR);
    const auto pieces = Capture::pieces();
    ASSERT_GE(pieces.size(), 4u);
    EXPECT_EQ(pieces.front(), "ERR ");
    EXPECT_EQ(pieces.back(), " [f:file.cpp:12]\n");
}

}  // namespace
}  // namespace orvel_test
