// One log line: its pieces in order, written under the lock.
#include "trace_line.h"

#include "rotation.h"
#include "trace_state.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace orvel {

namespace {

constexpr unsigned kSeparatorOptions =
    ORVEL_OPT_DATE | ORVEL_OPT_TIME | ORVEL_OPT_LEVEL | ORVEL_OPT_TAG | ORVEL_OPT_PID | ORVEL_OPT_TID;
constexpr unsigned kLocationOptions = ORVEL_OPT_FUNCTION | ORVEL_OPT_FILE | ORVEL_OPT_LINE | ORVEL_OPT_MODULE;
constexpr int kMaxIndent = 40;
constexpr unsigned kLocationColourLevel = ORVEL_FULL;

// Console colour order (black, blue, green, cyan, red, magenta, yellow,
// white) to ANSI foreground codes.
constexpr int kAnsiForeground[8] = {30, 34, 32, 36, 31, 35, 33, 37};

unsigned present_location_options(unsigned options, const LineSource& source) noexcept {
    if (source.module == nullptr) options &= ~ORVEL_OPT_MODULE;
    if (source.function == nullptr) options &= ~ORVEL_OPT_FUNCTION;
    if (source.path == nullptr) options &= ~(ORVEL_OPT_FILE | ORVEL_OPT_LINE);
    return options;
}

// Lock held.
int level_colour(unsigned level) noexcept {
    const LevelRow* row = level_row(level);
    return row != nullptr && row->colour >= 0 ? row->colour : trace_state.default_colour;
}

std::tm local_time_now(int& milliseconds) noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return local;
}

// Hands the pieces of a line to the writer. For the default writer they are
// gathered and written with one call, so a line reaches the file whole even
// when other processes append to it too; a custom writer gets each piece.
class PieceWriter {
public:
    PieceWriter(orvel_writer_fn writer, int fd) noexcept
        : writer_(writer), fd_(fd), gather_(writer == default_writer) {}
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    void operator()(std::string_view piece) {
        if (piece.empty()) return;
        if (gather_) {
            line_ += piece;
        } else {
            writer_(fd_, piece.data(), static_cast<unsigned>(piece.size()));
        }
    }

    void flush() noexcept {
        if (line_.empty()) return;
        writer_(fd_, line_.data(), static_cast<unsigned>(line_.size()));
        line_.clear();
    }

private:
    orvel_writer_fn writer_;
    int fd_;
    bool gather_;
    std::string line_;
};

// Lock held. False when there is no output for the line.
bool ensure_writer(unsigned options) noexcept {
    if (trace_state.writer != nullptr) return true;
    if (!option_on(options, ORVEL_OPT_STDOUT)) return false;
    trace_state.writer = default_writer;
    trace_state.fd.store(STDOUT_FILENO, std::memory_order_relaxed);
    return true;
}

void call_hook(int phase) {
    if (trace_state.hook != nullptr) trace_state.hook(trace_state.fd.load(std::memory_order_relaxed), phase);
}

// Lock held; the output exists.
void write_pieces(unsigned options, unsigned level, std::string_view escaped, const LineSource& source) {
    PieceWriter write(trace_state.writer, trace_state.fd.load(std::memory_order_relaxed));
    const LevelRow* row = level_row(level);
    const bool colour = option_on(options, ORVEL_OPT_COLOR);

    write(level_piece(options, level, row ? row->short_name : std::string_view()));
    if (option_on(options, ORVEL_OPT_DATE | ORVEL_OPT_TIME)) {
        int ms = 0;
        const std::tm local = local_time_now(ms);
        write(time_stamp_piece(options, local, ms));
    }
    write(process_piece(options, static_cast<int>(::getpid()), static_cast<int>(::gettid())));
    if (option_on(options, ORVEL_OPT_TAG) && trace_state.tag != nullptr) {
        write(std::string_view(trace_state.tag, trace_state.tag_length));
    }
    if (option_on(options, kSeparatorOptions)) write(" ");
    write(indentation_piece(options, trace_state.depth.load(std::memory_order_relaxed)));
    if (colour) write(colour_sequence(level_colour(level)));
    write(escaped);

    const std::string location = location_piece(options, source);
    if (location.empty()) {
        if (colour) write(kColourReset);
        write("\n");
    } else {
        if (colour) write(colour_sequence(level_colour(kLocationColourLevel)));
        write(location);
        if (colour) write(kColourReset);
    }
    write.flush();
}

}  // namespace

std::string escape_message(std::string_view message) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(message.size());
    for (const char ch : message) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (byte) {
            case 0x07: out += "\\a"; break;
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0A: out += "\\n"; break;
            case 0x0B: out += "\\v"; break;
            case 0x0C: out += "\\f"; break;
            case 0x0D: out += "\\r"; break;
            case 0x5C: out += "\\\\"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

std::string colour_sequence(int colour) {
    if (colour < 0) return {};
    std::string seq = "\x1b[" + std::to_string(kAnsiForeground[colour & 7]);
    if ((colour & 8) != 0) seq += ";1";
    seq += 'm';
    return seq;
}

std::string_view base_name(std::string_view path) noexcept {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string level_piece(unsigned options, unsigned level, std::string_view short_name) {
    if (!option_on(options, ORVEL_OPT_LEVEL)) return {};
    if (option_on(options, ORVEL_OPT_LEVEL_NAME) && !short_name.empty()) return std::string(short_name) + ' ';
    return '[' + std::to_string(level) + ']';
}

std::string time_stamp_piece(unsigned options, const std::tm& local, int milliseconds) {
    const bool date = option_on(options, ORVEL_OPT_DATE);
    const bool time = option_on(options, ORVEL_OPT_TIME);
    if (!date && !time) return {};
    char buf[96];
    std::string out = "[";
    if (date) {
        std::snprintf(buf, sizeof buf, "%2d/%02d/%02d", local.tm_mday, local.tm_mon + 1, local.tm_year % 100);
        out += buf;
    }
    if (date && time) out += ' ';
    if (time) {
        std::snprintf(buf, sizeof buf, "%2d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        out += buf;
        if (option_on(options, ORVEL_OPT_MSEC)) {
            std::snprintf(buf, sizeof buf, ".%03d", milliseconds);
            out += buf;
        }
    }
    out += ']';
    return out;
}

std::string process_piece(unsigned options, int pid, int tid) {
    const bool with_pid = option_on(options, ORVEL_OPT_PID);
    const bool with_tid = option_on(options, ORVEL_OPT_TID);
    char buf[48];
    if (with_pid && with_tid) {
        std::snprintf(buf, sizeof buf, "(%d:0x%x)", pid, static_cast<unsigned>(tid));
    } else if (with_pid) {
        std::snprintf(buf, sizeof buf, "(%d)", pid);
    } else if (with_tid) {
        std::snprintf(buf, sizeof buf, "(0x%x)", static_cast<unsigned>(tid));
    } else {
        return {};
    }
    return buf;
}

std::string indentation_piece(unsigned options, int depth) {
    if (!option_on(options, ORVEL_OPT_DEPTH) || !option_on(options, ORVEL_OPT_INDENT) || depth <= 0) return {};
    return std::string(static_cast<std::size_t>(std::min(depth, kMaxIndent)), ' ');
}

std::string location_piece(unsigned options, const LineSource& source) {
    const unsigned present = present_location_options(options, source);
    if (!option_on(present, kLocationOptions)) return {};
    const bool module = option_on(present, ORVEL_OPT_MODULE);
    const bool function = option_on(present, ORVEL_OPT_FUNCTION);
    const bool file = option_on(present, ORVEL_OPT_FILE);
    const bool line = option_on(present, ORVEL_OPT_LINE);

    std::string out = " [";
    if (module) out += source.module;
    if (module && function) out += ':';
    if (function) out += source.function;
    if ((module || function) && (file || line)) out += ':';
    // The line number is shown only together with the file name.
    if (file) {
        out += base_name(source.path);
        if (line) {
            out += ':';
            out += std::to_string(source.line);
        }
    }
    out += "]\n";
    return out;
}

void write_line(unsigned level, const LineSource& source, std::string_view message) {
    if (!level_passes(level)) return;
    const std::string escaped = escape_message(message);
    const TraceLock lock;
    const unsigned options = trace_state.options.load(std::memory_order_relaxed);
    if (option_on(options, ORVEL_OPT_ROTATE)) rotate_if_due();
    if (!ensure_writer(options)) return;
    call_hook(1);
    write_pieces(options, level, escaped, source);
    call_hook(2);
}

}  // namespace orvel
