// The bytes of one log line and where each of its pieces ends, with the
// number formats a line uses. A line is built here before the lock is taken
// (its time stamp is filled in under it); short lines stay on the stack, a
// long one moves to the heap.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace orvel {

inline constexpr char kHexDigits[] = "0123456789abcdef";

class LineText {
public:
    LineText() noexcept = default;
    LineText(const LineText&) = delete;
    LineText& operator=(const LineText&) = delete;

    // May throw std::bad_alloc when a long line moves to the heap.
    void append(std::string_view bytes) {
        if (bytes.empty()) return;
        std::memcpy(reserve(bytes.size()), bytes.data(), bytes.size());
        size_ += bytes.size();
    }
    void append(char byte) {
        *reserve(1) = byte;
        ++size_;
    }
    // "%*d" (pad ' ') or "%0*d" (pad '0') with this width.
    void append_decimal(long long value, int width = 0, char pad = ' ');
    // "%x"
    void append_hex(unsigned value);
    // Leaves count bytes to be filled in later; returns where they start.
    std::size_t append_blank(std::size_t count) {
        reserve(count);
        const std::size_t at = size_;
        size_ += count;
        return at;
    }
    char* at(std::size_t offset) noexcept { return data_ + offset; }

    // Ends the piece appended since the last call; an empty piece is not kept.
    void end_piece() noexcept;

    std::string_view text() const noexcept { return {data_, size_}; }
    std::span<const std::size_t> piece_ends() const noexcept { return {piece_ends_.data(), pieces_}; }

private:
    static constexpr std::size_t kInlineBytes = 1024;
    // Level, time stamp, process, tag, separator, indentation, colour,
    // message, colour or reset, location or line feed, reset.
    static constexpr std::size_t kMaxPieces = 12;

    char* reserve(std::size_t more) { return more <= capacity_ - size_ ? data_ + size_ : grow(more); }
    char* grow(std::size_t more);

    std::array<char, kInlineBytes> inline_;
    std::string heap_;
    char* data_ = inline_.data();
    std::size_t size_ = 0;
    std::size_t capacity_ = kInlineBytes;
    std::array<std::size_t, kMaxPieces> piece_ends_{};
    std::size_t pieces_ = 0;
};

}  // namespace orvel
