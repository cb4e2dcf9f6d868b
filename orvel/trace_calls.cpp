// The exports that write lines: __tracev, __trace and __tracef.
#include "message_format.h"
#include "module_name.h"
#include "trace_line.h"
#include "trace_state.h"

#include <cstdarg>
#include <cstdlib>
#include <memory>

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
    if (message == nullptr || !level_passes(level)) return;
    const LineSource source{caller_module(__builtin_return_address(0)), function, path, line};
    write_line_quietly(level, source, message);
}

ORVEL_EXPORT void __tracef(unsigned int level, const char* function, const char* path, int line, const char* format,
                           ...) {
    if (!level_passes(level)) return;
    const ErrnoKeeper keep_errno;
    va_list args;
    va_start(args, format);
    const HeapText message(format_heap_text(format, args));
    va_end(args);
    if (!message) return;
    const LineSource source{caller_module(__builtin_return_address(0)), function, path, line};
    write_line_quietly(level, source, message.get());
}

}  // extern "C"
