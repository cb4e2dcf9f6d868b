#include "tarvik/engine/ini_reader.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string g_last_error;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_text(const char* file_name) {
    return File(file_name == nullptr ? nullptr : std::fopen(file_name, "re"));
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_trailing_blanks(std::string_view s) {
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A logical line read with fgetll, or nothing at the end of the file;
// `failed` tells a read error from the end.
class LineReader {
public:
    explicit LineReader(std::FILE* f) : file(f) {}
    bool failed = false;

    std::optional<std::string_view> next() {
        if (fgetll(buffer, static_cast<int>(sizeof buffer), file) == nullptr) {
            failed = std::ferror(file) != 0;
            return std::nullopt;
        }
        return std::string_view(buffer);
    }

private:
    std::FILE* file;
    char buffer[INI_LINE_MAX]{};
};

// One physical line: leading blanks and tabs dropped, ended by its first
// carriage return or line feed (the rest up to the line feed is skipped).
// At most `keep` characters are held; a longer line is marked too long.
// `tail` holds its last two characters, kept or not.
struct PhysicalLine {
    std::string text;
    std::string tail;
    bool too_long = false;
};

std::optional<PhysicalLine> read_physical_line(std::FILE* file, std::size_t keep) {
    PhysicalLine line;
    bool any = false;
    bool ended = false;  // a carriage return was met
    bool leading = true;
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        any = true;
        if (c == '\n') break;
        if (ended) continue;
        if (c == '\r') {
            ended = true;
            continue;
        }
        if (leading && is_blank(static_cast<char>(c))) continue;
        leading = false;
        line.tail.push_back(static_cast<char>(c));
        if (line.tail.size() > 2) line.tail.erase(0, 1);
        if (line.text.size() < keep)
            line.text.push_back(static_cast<char>(c));
        else
            line.too_long = true;
    }
    if (!any) return std::nullopt;
    return line;
}

bool is_header(std::string_view line) { return !line.empty() && line.front() == '['; }

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> split_key_value(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    const std::string_view key = trim_trailing_blanks(line.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return KeyValue{key, line.substr(eq + 1)};
}

// Name of a header line: after "[" and blanks, up to "]" without trailing
// blanks; nothing when the "]" is missing.
std::optional<std::string_view> header_name(std::string_view line) {
    line.remove_prefix(1);
    while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim_trailing_blanks(line.substr(0, close));
}

char* heap_copy(std::string_view s) {
    auto* copy = static_cast<char*>(std::malloc(s.size() + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, s.data(), s.size());
    copy[s.size()] = '\0';
    return copy;
}

// Hands a list of texts over as a heap array of heap texts.
int hand_over(const std::vector<std::string>& texts, char*** out) {
    *out = nullptr;
    if (texts.empty()) return 0;
    auto** list = static_cast<char**>(std::calloc(texts.size(), sizeof(char*)));
    if (list == nullptr) return -1;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        list[i] = heap_copy(texts[i]);
        if (list[i] == nullptr) {
            ini_free_list(list, static_cast<int>(i));
            return -1;
        }
    }
    *out = list;
    return static_cast<int>(texts.size());
}

std::string unescaped(std::string_view value) {
    char scratch[INI_LINE_MAX];
    const std::string source(value);
    ini_unescape(scratch, sizeof scratch, source.c_str());
    return scratch;
}

// Byte size of the object a single numeric scanf conversion writes, or 0 when
// the format is not exactly one such conversion.
std::size_t numeric_conversion_size(std::string_view format) {
    if (format.size() < 2 || format.front() != '%') return 0;
    format.remove_prefix(1);
    while (!format.empty() && format.front() >= '0' && format.front() <= '9') format.remove_prefix(1);
    std::string_view length;
    for (std::string_view m : {"hh", "ll", "h", "l", "j", "z", "t", "L"}) {
        if (format.starts_with(m)) {
            length = m;
            format.remove_prefix(m.size());
            break;
        }
    }
    if (format.size() != 1) return 0;
    const char conv = format.front();
    if (std::strchr("diouxX", conv) != nullptr) {
        if (length.empty()) return sizeof(int);
        if (length == "hh") return sizeof(char);
        if (length == "h") return sizeof(short);
        if (length == "l") return sizeof(long);
        if (length == "ll") return sizeof(long long);
        if (length == "j") return sizeof(intmax_t);
        if (length == "z") return sizeof(std::size_t);
        if (length == "t") return sizeof(std::ptrdiff_t);
        return 0;
    }
    if (std::strchr("feEgGaA", conv) != nullptr) {
        if (length.empty()) return sizeof(float);
        if (length == "l") return sizeof(double);
        if (length == "L") return sizeof(long double);
    }
    return 0;
}

std::optional<int> boolean_value(std::string_view value) {
    for (std::string_view yes : {"yes", "y", "true", "1"})
        if (equals_ignoring_case(value, yes)) return 1;
    for (std::string_view no : {"no", "n", "false", "0"})
        if (equals_ignoring_case(value, no)) return 0;
    return std::nullopt;
}

// Stores one value by its request's format; false (with the last-error text
// set) when the value or the request cannot be used.
bool store_value(const IniRequest& request, std::string_view value) {
    const std::string_view format = request.format == nullptr ? "" : request.format;
    if (request.destination == nullptr) {
        g_last_error = "no destination for '" + std::string(request.key) + "'";
        return false;
    }
    if (format == "%s") {
        if (value.size() >= request.capacity) {
            g_last_error = "value of '" + std::string(request.key) + "' too long";
            return false;
        }
        std::memcpy(request.destination, value.data(), value.size());
        static_cast<char*>(request.destination)[value.size()] = '\0';
        return true;
    }
    if (format == "%S") {
        if (request.capacity < sizeof(char*)) return false;
        char* copy = heap_copy(value);
        if (copy == nullptr) return false;
        std::memcpy(request.destination, &copy, sizeof copy);
        return true;
    }
    if (format == "%B") {
        const auto flag = boolean_value(value);
        if (!flag) {
            g_last_error = "unrecognized boolean value '" + std::string(value) + "'";
            return false;
        }
        if (request.capacity < sizeof(int)) return false;
        std::memcpy(request.destination, &*flag, sizeof(int));
        return true;
    }
    const std::size_t size = numeric_conversion_size(format);
    if (size == 0 || request.capacity < size) {
        g_last_error = "unsupported format '" + std::string(format) + "' for '" + std::string(request.key) + "'";
        return false;
    }
    // The outcome of the conversion is not looked at: an unreadable number
    // leaves the destination as it was.
    const std::string text(value);
    std::sscanf(text.c_str(), request.format, request.destination);
    return true;
}

// A key met again replaces the heap copy this call stored for it before.
void release_heap_copy(const IniRequest& request) {
    if (request.format == nullptr || std::string_view(request.format) != "%S") return;
    char* previous = nullptr;
    std::memcpy(&previous, request.destination, sizeof previous);
    std::free(previous);
    std::memset(request.destination, 0, sizeof previous);
}

const IniRequest* find_request(std::span<const IniRequest> requests, std::string_view key, std::size_t* index) {
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (equals_ignoring_case(requests[i].key, key)) {
            *index = i;
            return &requests[i];
        }
    }
    return nullptr;
}

void set_missing_keys_error(std::span<const IniRequest> requests, const std::vector<bool>& found,
                            const char* section) {
    std::string missing;
    std::size_t count = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (found[i]) continue;
        if (count++ > 0) missing += ", ";
        missing += requests[i].key;
    }
    const char* plural = count >= 2 ? "s" : "";
    g_last_error = "value" + std::string(plural) + " not found";
    if (section != nullptr) g_last_error += " in section [" + std::string(section) + "]";
    g_last_error += ": " + missing;
}

// Positions the file at the section's first line: 0, 1 (missing), -1.
int position_at(std::FILE* file, const char* section) {
    return section == nullptr ? 0 : ini_find_section(file, section);
}

}  // namespace

int ini_get_values(const char* file_name, const char* section, std::span<const IniRequest> requests) {
    g_last_error.clear();
    if (requests.size() > INI_MAX_REQUESTS) {
        g_last_error = "too many arguments";
        return -1;
    }
    for (const IniRequest& r : requests)
        if (r.key == nullptr) return -1;
    File file = open_text(file_name);
    if (!file) return -1;
    const int positioned = position_at(file.get(), section);
    if (positioned != 0) return positioned == 1 ? 0 : -1;

    std::vector<bool> found(requests.size(), false);
    int stored = 0;
    LineReader reader(file.get());
    while (static_cast<std::size_t>(stored) < requests.size()) {
        const auto line = reader.next();
        if (!line) {
            if (reader.failed) return -1;
            break;
        }
        if (section != nullptr && is_header(*line)) break;
        const auto kv = split_key_value(*line);
        if (!kv) continue;
        std::size_t index = 0;
        const IniRequest* request = find_request(requests, kv->key, &index);
        if (request == nullptr) continue;
        const std::string value = (request->flags & INI_UNESCAPE) ? unescaped(kv->value) : std::string(kv->value);
        if (found[index]) release_heap_copy(*request);
        if (!store_value(*request, value)) return -1;
        ++stored;
        found[index] = true;
    }
    if (static_cast<std::size_t>(stored) < requests.size()) set_missing_keys_error(requests, found, section);
    return stored;
}

int ini_get_sections(const char* file_name, char*** sections) {
    if (sections == nullptr) return -1;
    *sections = nullptr;
    File file = open_text(file_name);
    if (!file) return -1;
    std::vector<std::string> names;
    LineReader reader(file.get());
    while (const auto line = reader.next()) {
        if (!is_header(*line)) continue;
        const auto name = header_name(*line);
        if (name && !name->empty()) names.emplace_back(*name);
    }
    if (reader.failed) return -1;
    return hand_over(names, sections);
}

int ini_get_section_lines(const char* file_name, const char* section, char*** lines, int flags) {
    if (lines == nullptr) return -1;
    *lines = nullptr;
    File file = open_text(file_name);
    if (!file) return -1;
    const int positioned = position_at(file.get(), section);
    if (positioned != 0) return positioned == 1 ? 0 : -1;
    std::vector<std::string> texts;
    LineReader reader(file.get());
    while (const auto line = reader.next()) {
        if (is_header(*line)) break;
        texts.push_back((flags & INI_UNESCAPE) ? unescaped(*line) : std::string(*line));
    }
    if (reader.failed) return -1;
    return hand_over(texts, lines);
}

int ini_split_line(const char* text, char** key, char** value) {
    if (text == nullptr || key == nullptr || value == nullptr) return -1;
    const std::string_view line(text);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        g_last_error = "no '=' found";
        return -1;
    }
    *key = heap_copy(trim_trailing_blanks(line.substr(0, eq)));
    *value = heap_copy(line.substr(eq + 1));
    if (*key == nullptr || *value == nullptr) {
        std::free(*key);
        std::free(*value);
        *key = *value = nullptr;
        return -1;
    }
    return 0;
}

void ini_free_list(char** list, int count) {
    if (list == nullptr) return;
    for (int i = 0; i < count; ++i) std::free(list[i]);
    std::free(list);
}

const char* ini_last_error() { return g_last_error.c_str(); }

char* fgetll(char* buffer, int size, std::FILE* file) {
    if (size < 2 || buffer == nullptr || file == nullptr) {
        g_last_error = std::string("fgetll: ") + std::strerror(EINVAL);
        return nullptr;
    }
    const auto capacity = static_cast<std::size_t>(size - 1);
    buffer[0] = '\0';
    std::string logical;
    bool stored = false;
    bool too_long = false;
    const auto finish = [&]() -> char* {
        std::memcpy(buffer, logical.data(), logical.size());
        buffer[logical.size()] = '\0';
        return buffer;
    };
    while (auto physical = read_physical_line(file, capacity)) {
        std::string_view text(physical->text);
        if (!text.empty() && (text.front() == '#' || text.front() == ';')) continue;
        if (text.empty() && !physical->too_long) {
            if (!stored) continue;
            if (!too_long) return finish();  // an empty line ends a continuation
            logical.clear();
            stored = too_long = false;
            continue;
        }
        bool continues = false;
        if (physical->tail.ends_with('\\')) {
            if (!physical->too_long) text.remove_suffix(1);
            continues = true;
        } else if (physical->tail.ends_with("\\ ")) {
            if (!physical->too_long) text.remove_suffix(1);  // a backslash with one blank after it is kept and does not continue
        }
        stored = true;
        if (physical->too_long || logical.size() + text.size() > capacity)
            too_long = true;
        else
            logical.append(text);
        if (continues) continue;
        if (!too_long) return finish();
        // A line longer than the buffer is dropped whole: its tail must not
        // be read as a line of its own.
        logical.clear();
        stored = too_long = false;
    }
    return stored && !too_long ? finish() : nullptr;
}

int ini_find_section(std::FILE* file, const char* section) {
    if (file == nullptr || section == nullptr) return -1;
    const std::string_view name(section);
    LineReader reader(file);
    while (const auto line = reader.next()) {
        if (!is_header(*line)) continue;
        std::string_view rest = line->substr(1);
        while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
        if (!rest.starts_with(name)) continue;
        rest.remove_prefix(name.size());
        while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == ']') return 0;
    }
    if (reader.failed) return -1;
    g_last_error = "section [" + std::string(name) + "] not found";
    return 1;
}

int ini_is_comment(const char* text) {
    if (text == nullptr) return 0;
    while (is_blank(*text)) ++text;
    return (*text == '#' || *text == ';') ? 1 : 0;
}

void ini_unescape(char* destination, std::size_t capacity, const char* source) {
    if (destination == nullptr || capacity == 0) return;
    std::string out;
    for (const char* p = source == nullptr ? "" : source; *p != '\0'; ++p) {
        if (*p != '\\') {
            out += *p;
            continue;
        }
        const char next = p[1];
        if (next == '\0') break;  // a lone backslash at the end is dropped
        ++p;
        switch (next) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'E': out += '\x1b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            default:
                out += '\\';
                out += next;
        }
    }
    const std::size_t n = out.size() < capacity ? out.size() : capacity - 1;
    std::memcpy(destination, out.data(), n);
    destination[n] = '\0';
}
