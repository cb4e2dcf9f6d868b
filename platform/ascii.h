// Character classes of ASCII alone. The <cctype> functions follow the
// host's locale (a JVM sets the user's), which widens them to bytes above
// 0x7F in single-byte locales: names that reach files are judged here.
#ifndef KIT_PLATFORM_ASCII_H
#define KIT_PLATFORM_ASCII_H

namespace kit::platform {

constexpr bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace kit::platform

#endif
