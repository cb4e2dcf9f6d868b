// Hex-dump lines: 16 bytes per line, 71 characters. The line writer escapes
// them as any message, so a backslash among the characters becomes "\\".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orvel {

inline constexpr std::size_t kDumpBytesPerLine = 16;
inline constexpr std::size_t kDumpLineLength = 71;

// Columns 0-3 the offset ("%04x", first four characters), byte k as "%02x "
// from column 6 + 3k and as a character (0x20-0x7E, else '.') in column
// 55 + k; the rest blanks. At most kDumpBytesPerLine bytes are shown.
std::array<char, kDumpLineLength> dump_line(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept;

}  // namespace orvel
