// Helpers the text renderings share: hexadecimal values and the bounded
// hand-over of a finished text into a caller's C buffer.
#ifndef TARVIK_ENGINE_TEXT_OUTPUT_H
#define TARVIK_ENGINE_TEXT_OUTPUT_H

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tarvik::text {

// The bytes as upper-case hexadecimal, two digits a byte.
std::string upper_hex(std::span<const unsigned char> bytes);

// Copies text and a terminator into out when they fit in capacity bytes and
// returns true; otherwise leaves an empty string there (when capacity > 0)
// and returns false.
bool replace_bounded(char* out, std::size_t capacity, std::string_view text);

// Appends text after the string already in out (read at most capacity bytes
// far) when the whole text fits; otherwise changes nothing and returns false.
bool append_bounded(char* out, std::size_t capacity, std::string_view text);

}  // namespace tarvik::text

#endif
