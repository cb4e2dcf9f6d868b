// printf-style formatting into a heap text released with free().
#pragma once

#include <cstdarg>

namespace orvel {

// The formatted text, or null when the format is null, the formatter
// reports an error (a negative result) or memory runs out.
char* format_heap_text(const char* format, va_list args) noexcept;

}  // namespace orvel
