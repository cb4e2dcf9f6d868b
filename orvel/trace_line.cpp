// One log line: its pieces built in order, then written under the lock.
#include "trace_line.h"

#include "line_text.h"
#include "process_ids.h"
#include "trace_state.h"

#include <unistd.h>

#include <algorithm>
#include <array>

namespace orvel {

namespace {

constexpr unsigned kSeparatorOptions =
    ORVEL_OPT_DATE | ORVEL_OPT_TIME | ORVEL_OPT_LEVEL | ORVEL_OPT_TAG | ORVEL_OPT_PID | ORVEL_OPT_TID;
constexpr unsigned kLocationOptions = ORVEL_OPT_FUNCTION | ORVEL_OPT_FILE | ORVEL_OPT_LINE | ORVEL_OPT_MODULE;
constexpr int kMaxIndent = 40;
constexpr unsigned kLocationColourLevel = ORVEL_FULL;
constexpr std::string_view kColourReset = "\x1b[0m";

// Console colour order (black, blue, green, cyan, red, magenta, yellow,
// white) to ANSI foreground codes.
constexpr std::string_view kAnsiForeground[8] = {"30", "34", "32", "36", "31", "35", "33", "37"};

unsigned present_location_options(unsigned options, const LineSource& source) noexcept {
    if (source.module == nullptr) options &= ~ORVEL_OPT_MODULE;
    if (source.function == nullptr) options &= ~ORVEL_OPT_FUNCTION;
    if (source.path == nullptr) options &= ~(ORVEL_OPT_FILE | ORVEL_OPT_LINE);
    return options;
}

std::tm local_time_now(int& milliseconds) noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return local;
}

constexpr bool is_plain(unsigned char byte) noexcept { return byte >= 0x20 && byte != 0x7F && byte != '\\'; }

constexpr std::array<bool, 256> kPlainBytes = [] {
    std::array<bool, 256> plain{};
    for (std::size_t b = 0; b < plain.size(); ++b) plain[b] = is_plain(static_cast<unsigned char>(b));
    return plain;
}();

// Runs of bytes that need no escape are copied whole.
void append_escaped(LineText& text, std::string_view message) {
    std::size_t plain_from = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        if (kPlainBytes[byte]) continue;
        text.append(message.substr(plain_from, i - plain_from));
        plain_from = i + 1;
        switch (byte) {
            case 0x07: text.append("\\a"); break;
            case 0x08: text.append("\\b"); break;
            case 0x09: text.append("\\t"); break;
            case 0x0A: text.append("\\n"); break;
            case 0x0B: text.append("\\v"); break;
            case 0x0C: text.append("\\f"); break;
            case 0x0D: text.append("\\r"); break;
            case 0x5C: text.append("\\\\"); break;
            default: {
                const char hex[] = {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
                text.append(std::string_view(hex, sizeof hex));
            }
        }
    }
    text.append(message.substr(plain_from));
}

void append_colour(LineText& text, int colour) {
    if (colour < 0) return;
    text.append("\x1b[");
    text.append(kAnsiForeground[colour & 7]);
    if ((colour & 8) != 0) text.append(";1");
    text.append('m');
}

void append_level(LineText& text, unsigned options, unsigned level) {
    if (!option_on(options, ORVEL_OPT_LEVEL)) return;
    const LevelRow* row = level_row(level);
    if (option_on(options, ORVEL_OPT_LEVEL_NAME) && row != nullptr) {
        text.append(row->short_name);
        text.append(' ');
        return;
    }
    text.append('[');
    text.append_decimal(level);
    text.append(']');
}

void append_time_stamp(LineText& text, unsigned options, const std::tm& local, int milliseconds) {
    const bool date = option_on(options, ORVEL_OPT_DATE);
    const bool time = option_on(options, ORVEL_OPT_TIME);
    if (!date && !time) return;
    text.append('[');
    if (date) {
        text.append_decimal(local.tm_mday, 2, ' ');
        text.append('/');
        text.append_decimal(local.tm_mon + 1, 2, '0');
        text.append('/');
        text.append_decimal(local.tm_year % 100, 2, '0');
    }
    if (date && time) text.append(' ');
    if (time) {
        text.append_decimal(local.tm_hour, 2, ' ');
        text.append(':');
        text.append_decimal(local.tm_min, 2, '0');
        text.append(':');
        text.append_decimal(local.tm_sec, 2, '0');
        if (option_on(options, ORVEL_OPT_MSEC)) {
            text.append('.');
            text.append_decimal(milliseconds, 3, '0');
        }
    }
    text.append(']');
}

// The kernel is asked for the ids only when the line shows them.
void append_process(LineText& text, unsigned options) {
    const bool with_pid = option_on(options, ORVEL_OPT_PID);
    const bool with_tid = option_on(options, ORVEL_OPT_TID);
    if (!with_pid && !with_tid) return;
    text.append('(');
    if (with_pid) text.append_decimal(process_id());
    if (with_pid && with_tid) text.append(':');
    if (with_tid) {
        text.append("0x");
        text.append_hex(static_cast<unsigned>(thread_id()));
    }
    text.append(')');
}

void append_indentation(LineText& text, unsigned options) {
    if (!option_on(options, ORVEL_OPT_DEPTH) || !option_on(options, ORVEL_OPT_INDENT)) return;
    const int depth = std::min(trace_state.depth.load(std::memory_order_relaxed), kMaxIndent);
    if (depth > 0) text.append(std::string_view("                                        ", static_cast<std::size_t>(depth)));
}

// " [module:function:file:line]" with the absent parts left out, and the
// line feed; only called when something is left to show.
void append_location(LineText& text, unsigned options, const LineSource& source) {
    const unsigned present = present_location_options(options, source);
    const bool module = option_on(present, ORVEL_OPT_MODULE);
    const bool function = option_on(present, ORVEL_OPT_FUNCTION);
    const bool file = option_on(present, ORVEL_OPT_FILE);
    const bool line = option_on(present, ORVEL_OPT_LINE);

    text.append(" [");
    if (module) text.append(source.module);
    if (module && function) text.append(':');
    if (function) text.append(source.function);
    if ((module || function) && (file || line)) text.append(':');
    // The line number is shown only together with the file name.
    if (file) {
        text.append(base_name(source.path));
        if (line) {
            text.append(':');
            text.append_decimal(source.line);
        }
    }
    text.append("]\n");
}

// Every piece of the line, each ended as the writer is to receive it.
void build_line(LineText& text, unsigned options, unsigned level, const LineSource& source, std::string_view message) {
    const bool colour = option_on(options, ORVEL_OPT_COLOR);
    const bool tag = option_on(options, ORVEL_OPT_TAG);
    const Appearance* appearance = colour || tag ? &current_appearance() : nullptr;

    append_level(text, options, level);
    text.end_piece();
    if (option_on(options, ORVEL_OPT_DATE | ORVEL_OPT_TIME)) {
        int ms = 0;
        const std::tm local = local_time_now(ms);
        append_time_stamp(text, options, local, ms);
        text.end_piece();
    }
    append_process(text, options);
    text.end_piece();
    if (tag && appearance->tag != nullptr) {
        text.append(std::string_view(appearance->tag, appearance->tag_length));
        text.end_piece();
    }
    if (option_on(options, kSeparatorOptions)) {
        text.append(' ');
        text.end_piece();
    }
    append_indentation(text, options);
    text.end_piece();
    if (colour) {
        append_colour(text, appearance->colour_of(level));
        text.end_piece();
    }
    append_escaped(text, message);
    text.end_piece();

    if (!option_on(present_location_options(options, source), kLocationOptions)) {
        if (colour) {
            text.append(kColourReset);
            text.end_piece();
        }
        text.append('\n');
        text.end_piece();
        return;
    }
    // The location takes the FULL colour, and the reset follows its line feed.
    if (colour) {
        append_colour(text, appearance->colour_of(kLocationColourLevel));
        text.end_piece();
    }
    append_location(text, options, source);
    text.end_piece();
    if (colour) {
        text.append(kColourReset);
        text.end_piece();
    }
}

// Lock held. False when there is no output for the line.
bool ensure_writer(unsigned options) noexcept {
    if (trace_state.writer != nullptr) return true;
    if (!option_on(options, ORVEL_OPT_STDOUT)) return false;
    set_output(default_writer, trace_state.hook);
    trace_state.fd.store(STDOUT_FILENO, std::memory_order_relaxed);
    return true;
}

void call_hook(int phase) {
    if (trace_state.hook != nullptr) trace_state.hook(trace_state.fd.load(std::memory_order_relaxed), phase);
}

// Lock held; the output exists. The default writer gets the line with one
// call, so it reaches the file whole even when other processes append to it
// too; a custom writer gets each piece.
void hand_over(const LineText& text) {
    const orvel_writer_fn writer = trace_state.writer;
    const int fd = trace_state.fd.load(std::memory_order_relaxed);
    if (writer == default_writer) {
        const std::string_view line = text.text();
        writer(fd, line.data(), static_cast<unsigned>(line.size()));
        return;
    }
    for (std::size_t i = 0; i < text.piece_count(); ++i) {
        const std::string_view piece = text.piece(i);
        writer(fd, piece.data(), static_cast<unsigned>(piece.size()));
    }
}

}  // namespace

std::string escape_message(std::string_view message) {
    LineText text;
    append_escaped(text, message);
    return std::string(text.text());
}

std::string time_stamp_piece(unsigned options, const std::tm& local, int milliseconds) {
    LineText text;
    append_time_stamp(text, options, local, milliseconds);
    return std::string(text.text());
}

std::string_view base_name(std::string_view path) noexcept {
    std::size_t start = path.size();
    while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\') --start;
    return path.substr(start);
}

void write_line(unsigned level, const LineSource& source, std::string_view message) {
    if (!level_passes(level) || !output_possible()) return;
    const unsigned options = trace_state.options.load(std::memory_order_relaxed);
    LineText text;
    build_line(text, options, level, source, message);

    const TraceLock lock;
    const RotationHold rotation(options);
    if (!ensure_writer(options)) return;
    call_hook(1);
    hand_over(text);
    call_hook(2);
}

LineBlock::LineBlock(unsigned level, std::size_t expected_lines)
    : level_(level),
      expected_lines_(expected_lines),
      options_(trace_state.options.load(std::memory_order_relaxed)),
      rotation_(options_),
      output_(ensure_writer(options_)) {}

void LineBlock::add(std::string_view message) {
    if (!output_) return;
    LineText text;
    build_line(text, options_, level_, LineSource{}, message);
    if (trace_state.writer != default_writer) {
        hand_over(text);
        return;
    }
    if (lines_.empty()) lines_.reserve(text.text().size() * expected_lines_);
    lines_.append(text.text());
}

void LineBlock::write() {
    if (output_ && trace_state.writer == default_writer) {
        const int fd = trace_state.fd.load(std::memory_order_relaxed);
        // Only a dump of hundreds of megabytes needs more than one call.
        constexpr std::size_t kMaxCall = std::size_t{1} << 30;
        for (std::size_t at = 0; at < lines_.size(); at += kMaxCall) {
            const std::size_t length = std::min(kMaxCall, lines_.size() - at);
            default_writer(fd, lines_.data() + at, static_cast<unsigned>(length));
        }
    }
    lines_.clear();
}

}  // namespace orvel
