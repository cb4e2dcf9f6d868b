// The reader names of tarvik's reader-list XML as lines.
#ifndef SELVANE_READER_LIST_H
#define SELVANE_READER_LIST_H

#include <string>
#include <string_view>

namespace selvane {

// The text of each <reader> element, unescaped, joined by "\n" (none after the last);
// empty when there is none. An element left open ends the walk.
std::string reader_names(std::string_view list);

}  // namespace selvane

#endif
