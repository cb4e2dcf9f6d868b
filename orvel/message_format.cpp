#include "message_format.h"

#include <cstdio>
#include <cstdlib>

namespace orvel {

namespace {

constexpr std::size_t kFirstSize = 100;
// The second attempt is sized from the first result, so it always fits;
// the bound only guards against a formatter that disagrees with itself.
constexpr int kMaxAttempts = 3;

}  // namespace

char* format_heap_text(const char* format, va_list args) noexcept {
    if (format == nullptr) return nullptr;
    std::size_t size = kFirstSize;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        auto* text = static_cast<char*>(std::malloc(size));
        if (text == nullptr) return nullptr;
        va_list copy;
        va_copy(copy, args);
        const int result = std::vsnprintf(text, size, format, copy);
        va_end(copy);
        if (result < 0) {  // an encoding or overflow error, not "too small"
            std::free(text);
            return nullptr;
        }
        if (static_cast<std::size_t>(result) < size) return text;
        std::free(text);
        size = static_cast<std::size_t>(result) + 1;
    }
    return nullptr;
}

}  // namespace orvel
