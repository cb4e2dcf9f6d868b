#include "tarvik/engine/text_output.h"

#include <cstring>

namespace tarvik::text {

std::string upper_hex(std::span<const unsigned char> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

bool replace_bounded(char* out, std::size_t capacity, std::string_view text) {
    if (out == nullptr || capacity == 0) return false;
    if (text.size() >= capacity) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

bool append_bounded(char* out, std::size_t capacity, std::string_view text) {
    if (out == nullptr || capacity == 0) return false;
    const std::size_t used = strnlen(out, capacity);
    // An unterminated buffer has no room left, whatever its size.
    if (used == capacity || text.size() >= capacity - used) return false;
    std::memcpy(out + used, text.data(), text.size());
    out[used + text.size()] = '\0';
    return true;
}

}  // namespace tarvik::text
