// Hex-dump lines: columns, the short last line, hook and lock handling.
#include "hex_dump.h"
#include "trace_fixture.h"

#include <numeric>

namespace orvel_test {
namespace {

using HexDump = TraceTest;

std::string dump_text(std::span<const std::uint8_t> bytes, std::size_t offset) {
    const auto line = orvel::dump_line(bytes, offset);
    return {line.data(), line.size()};
}

TEST_F(HexDump, FullLineColumns) {
    std::array<std::uint8_t, 16> bytes{};
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0x3A});
    bytes[15] = 0x7F;
    EXPECT_EQ(dump_text(bytes, 0x20),
              "0020  3a 3b 3c 3d 3e 3f 40 41 42 43 44 45 46 47 48 7f  :;<=>?@ABCDEFGH.");
}

TEST_F(HexDump, ShortLineKeepsItsWidthAndOffsetKeepsFourCharacters) {
    const std::uint8_t bytes[] = {0x00, 0x41};
    const std::string line = dump_text(bytes, 0x10000);
    EXPECT_EQ(line.size(), 71u);
    EXPECT_EQ(line, "1000  00 41" + std::string(44, ' ') + ".A" + std::string(14, ' '));
}

TEST_F(HexDump, SeventeenBytesMakeTwoLines) {
    capture_with(0x0);
    std::array<std::uint8_t, 17> bytes{};
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0x61});
    bytes[16] = 0xFF;
    __xdump(ORVEL_ERR, "f", "p.cpp", 9, bytes.data(), bytes.size());
    const auto lines = split_lines(Capture::text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "0000  61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop");
    EXPECT_EQ(lines[1], "0010  ff" + std::string(47, ' ') + "." + std::string(15, ' '));
}

TEST_F(HexDump, DumpLinesCarryTheLinePiecesButNoLocation) {
    capture_with(0x2074);
    const std::uint8_t byte = 0x5C;  // a backslash is escaped like in any message
    __xdump(ORVEL_WARN, "f", "p.cpp", 9, &byte, 1);
    EXPECT_EQ(Capture::text(),
              "[5](" + std::to_string(::getpid()) + ") 0000  5c" + std::string(47, ' ') + "\\\\" +
                  std::string(15, ' ') + "\n");
}

TEST_F(HexDump, HookRunsOnceAroundTheWholeDump) {
    __settraceopts(0x0);
    __settracer(Capture::writer, 5, Capture::hook);
    const std::array<std::uint8_t, 40> bytes{};
    __xdump(ORVEL_ERR, nullptr, nullptr, 0, bytes.data(), bytes.size());
    __xdump(ORVEL_ERR, nullptr, nullptr, 0, bytes.data(), 0);
    const std::vector<std::pair<int, int>> expected{{5, 1}, {5, 2}, {5, 1}, {5, 2}};
    EXPECT_EQ(Capture::hook_calls(), expected);
    EXPECT_EQ(split_lines(Capture::text()).size(), 3u);

    // The hook is back in place for the next line.
    Capture::reset();
    __tracef(ORVEL_ERR, nullptr, nullptr, 0, "after");
    EXPECT_EQ(Capture::hook_calls().size(), 2u);
}

TEST_F(HexDump, NullDataWritesNothing) {
    __settraceopts(0xFF);
    __settracer(Capture::writer, 5, Capture::hook);
    __xdump(ORVEL_ERR, "f", "p.cpp", 1, nullptr, 64);
    EXPECT_EQ(Capture::text(), "");
    EXPECT_TRUE(Capture::hook_calls().empty());
}

}  // namespace
}  // namespace orvel_test
