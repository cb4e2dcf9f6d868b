// Text from card files is in the OEM code page (850); Windows hosts expect
// the ANSI code page (1252), and Java wants UTF-16.
#ifndef KIT_PLATFORM_OEM_TEXT_H
#define KIT_PLATFORM_OEM_TEXT_H

#include <string>
#include <string_view>

namespace kit::platform {

// Code page 850 to 1252, byte for byte (OemToCharA); a character that 1252
// lacks becomes its closest form or "?".
std::string oem_to_ansi(std::string_view oem);

// Code page 1252 to UTF-16; the five bytes that 1252 leaves undefined keep
// their value as a code point, as Windows does.
std::u16string ansi_to_utf16(std::string_view ansi);

}  // namespace kit::platform

#endif
