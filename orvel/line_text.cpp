#include "line_text.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace orvel {

char* LineText::grow(std::size_t more) {
    std::string grown(std::max(2 * capacity_, size_ + more), '\0');
    std::memcpy(grown.data(), data_, size_);
    heap_.swap(grown);
    data_ = heap_.data();
    capacity_ = heap_.size();
    return data_ + size_;
}

void LineText::append_decimal(long long value, int width, char pad) {
    const bool negative = value < 0;
    // On the unsigned magnitude, so that the lowest value has digits too.
    unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    char digits[24];
    char* first = std::end(digits);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    const auto count = static_cast<std::size_t>(std::end(digits) - first);
    const std::size_t used = count + (negative ? 1 : 0);
    const std::size_t fill = width > 0 && static_cast<std::size_t>(width) > used ? static_cast<std::size_t>(width) - used : 0;

    char* out = reserve(used + fill);
    size_ += used + fill;
    if (pad != '0') out = std::fill_n(out, fill, pad);
    if (negative) *out++ = '-';
    if (pad == '0') out = std::fill_n(out, fill, '0');
    std::memcpy(out, first, count);
}

void LineText::append_hex(unsigned value) {
    char digits[8];
    char* first = std::end(digits);
    do {
        *--first = kHexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    append(std::string_view(first, static_cast<std::size_t>(std::end(digits) - first)));
}

void LineText::end_piece() noexcept {
    const std::size_t start = pieces_ == 0 ? 0 : piece_ends_[pieces_ - 1];
    if (size_ == start) return;
    if (pieces_ == kMaxPieces) {
        piece_ends_[kMaxPieces - 1] = size_;  // cannot happen with the pieces of a line
        return;
    }
    piece_ends_[pieces_++] = size_;
}

}  // namespace orvel
