// The exports that write lines: __tracev, __trace and __tracef.
#include "message_format.h"
#include "module_name.h"
#include "trace_line.h"
#include "trace_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

using namespace orvel;

namespace {

struct FreeText {
    void operator()(char* text) const noexcept { std::free(text); }
};
using HeapText = std::unique_ptr<char, FreeText>;

// The module lookup costs a dladdr call: only when the line shows it.
const char* caller_module(const void* return_address) noexcept {
    if (!option_on(trace_state.options.load(std::memory_order_relaxed), ORVEL_OPT_MODULE)) return nullptr;
    return module_base_name(return_address);
}

void write_line_quietly(unsigned level, const LineSource& source, const char* message) noexcept {
    try {
        write_line(level, source, message);
    } catch (...) {
        // Out of memory: the line is dropped, the host goes on.
    }
}

// Most messages fit on the stack; a longer one is formatted again on the
// heap. Kept out of __tracef so that a filtered-out call sets up no frame.
[[gnu::noinline]] void write_formatted_line(unsigned level, const char* function, const char* path, int line,
                                            const void* caller, const char* format, va_list args) noexcept {
    const ErrnoKeeper keep_errno;
    if (format == nullptr) return;
    const LineSource source{caller_module(caller), function, path, line};
    char text[512];
    va_list first;
    va_copy(first, args);
    const int length = std::vsnprintf(text, sizeof text, format, first);
    va_end(first);
    if (length < 0) return;
    if (static_cast<std::size_t>(length) < sizeof text) {
        write_line_quietly(level, source, text);
        return;
    }
    const HeapText message(format_heap_text(format, args));
    if (message) write_line_quietly(level, source, message.get());
}

}  // namespace

extern "C" {

ORVEL_EXPORT char* __tracev(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = format_heap_text(format, args);
    va_end(args);
    return text;
}

ORVEL_EXPORT void __trace(unsigned int level, const char* function, const char* path, int line, char* message) {
    const ErrnoKeeper keep_errno;
    const HeapText owned(message);
    if (message == nullptr || !level_passes(level) || !output_possible()) return;
    const LineSource source{caller_module(__builtin_return_address(0)), function, path, line};
    write_line_quietly(level, source, message);
}

ORVEL_EXPORT void __tracef(unsigned int level, const char* function, const char* path, int line, const char* format,
                           ...) {
    if (!level_passes(level) || !output_possible()) return;
    va_list args;
    va_start(args, format);
    write_formatted_line(level, function, path, line, __builtin_return_address(0), format, args);
    va_end(args);
}

}  // extern "C"
