// Texts handed to Java as UTF-16, so that every Java string made from card
// or reader text is valid whatever bytes it holds.
#ifndef SELVANE_JAVA_TEXT_H
#define SELVANE_JAVA_TEXT_H

#include <string>
#include <string_view>

namespace selvane::java {

// Well-formed UTF-8 is decoded; any other text is taken as code page 1252.
std::u16string from_utf8_or_ansi(std::string_view text);

// SIS texts are in the OEM code page: converted to 1252 (as OemToCharA
// does), then to UTF-16.
std::u16string from_oem(std::string_view text);

}  // namespace selvane::java

#endif
