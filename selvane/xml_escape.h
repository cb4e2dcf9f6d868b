// Escaping of values written inside XML elements.
#ifndef SELVANE_XML_ESCAPE_H
#define SELVANE_XML_ESCAPE_H

#include <string>
#include <string_view>

namespace selvane {

// Appends `value` to `out` with "&", "<" and ">" written as "&amp;", "&lt;"
// and "&gt;"; every other byte is kept. A value grows at most fivefold.
void append_xml_escaped(std::string& out, std::string_view value);

}  // namespace selvane

#endif
