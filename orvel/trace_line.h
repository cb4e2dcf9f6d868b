// Composition of one log line and its pieces, and the line writer that
// hands them to the output under the lock.
#pragma once

#include "rotation.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace orvel {

// Where a line comes from; any part may be null (it is then left out).
struct LineSource {
    const char* module = nullptr;
    const char* function = nullptr;
    const char* path = nullptr;
    int line = 0;
};

// Writes one line at this level: filter, then the line is built, then under
// the lock rotation check, hook phase 1, the pieces, hook phase 2. Dropped
// when no output is set. May throw std::bad_alloc before anything is
// written.
void write_line(unsigned level, const LineSource& source, std::string_view message);

// The lines of one hex dump, at one level and without a location piece; the
// rotation check and the output check come once, before the first line, and
// the rotation hold lasts until the block ends. Lock held for its whole life;
// the dump has hidden the hook. The default writer gets all lines with one
// call from write(), so that they stay together in a file other processes
// append to too; a custom writer gets each line's pieces from add(). May
// throw std::bad_alloc.
class LineBlock {
public:
    LineBlock(unsigned level, std::size_t expected_lines);
    LineBlock(const LineBlock&) = delete;
    LineBlock& operator=(const LineBlock&) = delete;

    void add(std::string_view message);
    void write();

private:
    unsigned level_;
    std::size_t expected_lines_;
    unsigned options_;
    RotationHold rotation_;
    bool output_;
    std::string lines_;  // kept for the default writer
};

// Message text with control bytes, 0x7F and backslash made visible
// ("\t", "\x1b", "\\"); bytes 0x80-0xFF pass unchanged.
std::string escape_message(std::string_view message);

// "[date time.ms]" as the options ask; empty when they ask for neither.
std::string time_stamp_piece(unsigned options, const std::tm& local, int milliseconds);

// Text after the last '/' or '\\'; the whole path when it has neither.
std::string_view base_name(std::string_view path) noexcept;

}  // namespace orvel
