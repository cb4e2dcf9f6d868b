// One log line: its pieces built in order, then written under the lock.
#include "trace_line.h"

#include "line_text.h"
#include "process_ids.h"
#include "time_stamp.h"
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

// Blanks for the time stamp, filled in under the lock; npos when the line
// shows none.
std::size_t append_time_stamp_blank(LineText& text, unsigned options) {
    const std::size_t length = time_stamp_length(options);
    if (length == 0) return std::string_view::npos;
    const std::size_t at = text.append_blank(length);
    text.end_piece();
    return at;
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

// Every piece of the line, each ended as the writer is to receive it, but
// the time stamp left blank: returns where it goes (npos: none).
std::size_t build_line(LineText& text, unsigned options, unsigned level, const LineSource& source,
                       std::string_view message) {
    const bool colour = option_on(options, ORVEL_OPT_COLOR);
    const bool tag = option_on(options, ORVEL_OPT_TAG);
    const Appearance* appearance = colour || tag ? &current_appearance() : nullptr;

    append_level(text, options, level);
    text.end_piece();
    const std::size_t stamp_at = append_time_stamp_blank(text, options);
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
        return stamp_at;
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
    return stamp_at;
}

// Lock held.
void fill_time_stamp(LineText& text, std::size_t stamp_at, unsigned options) noexcept {
    if (stamp_at != std::string_view::npos) stamp_now(text.at(stamp_at), options);
}

}  // namespace

bool ensure_writer(unsigned options) noexcept {
    if (trace_state.writer != nullptr) return true;
    if (!option_on(options, ORVEL_OPT_STDOUT)) return false;
    set_output(default_writer, trace_state.hook);
    trace_state.fd.store(STDOUT_FILENO, std::memory_order_relaxed);
    return true;
}

std::string escape_message(std::string_view message) {
    LineText text;
    append_escaped(text, message);
    return std::string(text.text());
}

std::string time_stamp_piece(unsigned options, const std::tm& local, int milliseconds) {
    std::string piece(time_stamp_length(options), ' ');
    if (!piece.empty()) format_time_stamp(piece.data(), options, local, milliseconds);
    return piece;
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
    const std::size_t stamp_at = build_line(text, options, level, source, message);
    const TraceLock lock;
    if (!ensure_writer(options)) return;
    fill_time_stamp(text, stamp_at, options);
    deliver(options, {text.text(), text.piece_ends()});
}

void DumpText::add(std::string_view message) {
    LineText text;
    fill_time_stamp(text, build_line(text, options_, level_, LineSource{}, message), options_);
    const std::size_t base = bytes_.size();
    bytes_.append(text.text());
    for (const std::size_t end : text.piece_ends()) ends_.push_back(base + end);
}

}  // namespace orvel
