#include "selvane/java_text.h"

#include <optional>

#include "platform/oem_text.h"

namespace selvane::java {

namespace {

// The code point of the UTF-8 sequence at text[i], advancing i; nullopt when
// the sequence is malformed, overlong, a surrogate or beyond U+10FFFF.
std::optional<char32_t> next_code_point(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (i + extra >= text.size()) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    i += extra + 1;
    return cp;
}

std::optional<std::u16string> decode_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto cp = next_code_point(text, i);
        if (!cp) return std::nullopt;
        if (*cp < 0x10000) {
            out.push_back(static_cast<char16_t>(*cp));
        } else {
            const char32_t v = *cp - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
    return out;
}

}  // namespace

std::u16string from_utf8_or_ansi(std::string_view text) {
    if (auto decoded = decode_utf8(text)) return *decoded;
    return kit::platform::ansi_to_utf16(text);
}

std::u16string from_oem(std::string_view text) {
    return kit::platform::ansi_to_utf16(kit::platform::oem_to_ansi(text));
}

}  // namespace selvane::java
