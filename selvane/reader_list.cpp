#include "selvane/reader_list.h"

#include "platform/markup_text.h"

namespace selvane {

std::string reader_names(std::string_view list) {
    constexpr std::string_view open = "<reader>";
    constexpr std::string_view close = "</reader>";
    std::string names;
    bool first = true;
    for (auto start = list.find(open); start != std::string_view::npos;) {
        const auto name_begin = start + open.size();
        const auto name_end = list.find(close, name_begin);
        if (name_end == std::string_view::npos) break;
        if (!first) names.push_back('\n');
        first = false;
        names.append(kit::platform::xml_unescaped(list.substr(name_begin, name_end - name_begin)));
        start = list.find(open, name_end + close.size());
    }
    return names;
}

}  // namespace selvane
