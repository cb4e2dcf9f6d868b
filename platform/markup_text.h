// Card and reader text placed inside the kit's XML and NAME=value outputs,
// written so that no value can forge an element or a line of its own.
#ifndef KIT_PLATFORM_MARKUP_TEXT_H
#define KIT_PLATFORM_MARKUP_TEXT_H

#include <string>
#include <string_view>

namespace kit::platform {

// Appends value with "&", "<" and ">" written as "&amp;", "&lt;" and "&gt;";
// every other byte is kept. A value grows at most fivefold.
void append_xml_escaped(std::string& out, std::string_view value);

// The text with "&amp;", "&lt;" and "&gt;" back as "&", "<" and ">"; any
// other "&" is kept as written.
std::string xml_unescaped(std::string_view text);

// Appends value for a NAME=value line: a line break (CR or LF) inside it is
// written as a blank, every other byte is kept.
void append_line_value(std::string& out, std::string_view value);

}  // namespace kit::platform

#endif
