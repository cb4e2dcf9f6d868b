// Composition of one log line and its pieces, and the line writer that
// hands them to the output.
#pragma once

#include "delivery.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// Where a line comes from; any part may be null (it is then left out).
struct LineSource {
    const char* module = nullptr;
    const char* function = nullptr;
    const char* path = nullptr;
    int line = 0;
};

// Writes one line at this level: filter, then the line is built; under the
// lock its time stamp, then it is delivered (see delivery.h). Dropped when
// no output is set. May throw std::bad_alloc before anything is written.
void write_line(unsigned level, const LineSource& source, std::string_view message);

// Lock held. False when there is no writer for a line; under
// ORVEL_OPT_STDOUT standard output becomes the writer (and stays so).
bool ensure_writer(unsigned options) noexcept;

// The lines of one hex dump, at one level and without a location piece,
// made into one entry, so that they reach the output together. Lines are
// added with the lock held (their time stamps are taken under it). May throw
// std::bad_alloc.
class DumpText {
public:
    DumpText(unsigned level, unsigned options) noexcept : level_(level), options_(options) {}

    void add(std::string_view message);
    Pieces pieces() const noexcept { return {bytes_, ends_}; }

private:
    unsigned level_;
    unsigned options_;
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

// Message text with control bytes, 0x7F and backslash made visible
// ("\t", "\x1b", "\\"); bytes 0x80-0xFF pass unchanged.
std::string escape_message(std::string_view message);

// "[date time.ms]" as the options ask; empty when they ask for neither.
std::string time_stamp_piece(unsigned options, const std::tm& local, int milliseconds);

// Text after the last '/' or '\\'; the whole path when it has neither.
std::string_view base_name(std::string_view path) noexcept;

}  // namespace orvel
