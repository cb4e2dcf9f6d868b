#include "hex_dump.h"

#include "line_text.h"
#include "trace_line.h"
#include "trace_state.h"

#include <algorithm>
#include <string_view>

namespace orvel {

namespace {

constexpr std::size_t kHexColumn = 6;
constexpr std::size_t kCharColumn = 55;

// "%04zx", of which only the first four characters are kept.
void put_offset(std::array<char, kDumpLineLength>& line, std::size_t offset) noexcept {
    char digits[2 * sizeof offset];  // lowest first
    std::size_t count = 0;
    do {
        digits[count++] = kHexDigits[offset & 0xF];
        offset >>= 4;
    } while (offset != 0);
    while (count < 4) digits[count++] = '0';
    std::reverse_copy(digits + count - 4, digits + count, line.begin());
}

// Lock held. An empty dump has no lines (its hook still runs).
void add_dump_lines(DumpText& dump, std::span<const std::uint8_t> data) {
    for (std::size_t offset = 0; offset < data.size(); offset += kDumpBytesPerLine) {
        const auto chunk = data.subspan(offset, std::min(kDumpBytesPerLine, data.size() - offset));
        const auto line = dump_line(chunk, offset);
        dump.add(std::string_view(line.data(), line.size()));
    }
}

// The whole dump is one entry: its lines stay together, and the hook runs
// once around all of them rather than around each one, also when there is
// no writer for the lines.
void write_dump(unsigned level, std::span<const std::uint8_t> data) {
    const unsigned options = trace_state.options.load(std::memory_order_relaxed);
    DumpText dump(level, options);
    const TraceLock lock;
    if (ensure_writer(options)) {
        add_dump_lines(dump, data);
    } else if (trace_state.hook == nullptr) {
        return;
    }
    deliver(options, dump.pieces());
}

}  // namespace

std::array<char, kDumpLineLength> dump_line(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
    std::array<char, kDumpLineLength> line;
    line.fill(' ');
    put_offset(line, offset);
    const std::size_t count = std::min(bytes.size(), kDumpBytesPerLine);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t byte = bytes[k];
        line[kHexColumn + 3 * k] = kHexDigits[byte >> 4];
        line[kHexColumn + 3 * k + 1] = kHexDigits[byte & 0xF];
        line[kCharColumn + k] = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
    }
    return line;
}

}  // namespace orvel

using namespace orvel;

extern "C" ORVEL_EXPORT void __xdump(unsigned int level, const char* /*function*/, const char* /*path*/,
                                     int /*line*/, const void* data, unsigned int length) {
    if (!level_passes(level) || data == nullptr || !output_possible()) return;
    const ErrnoKeeper keep_errno;
    try {
        write_dump(level, {static_cast<const std::uint8_t*>(data), length});
    } catch (...) {
        // Out of memory: the dump is dropped; the host goes on.
    }
}
