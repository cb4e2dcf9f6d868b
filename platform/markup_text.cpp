#include "platform/markup_text.h"

#include <array>

namespace kit::platform {

namespace {

struct Entity {
    char plain;
    std::string_view written;
};

constexpr std::array<Entity, 3> kEntities{{{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}}};

}  // namespace

void append_xml_escaped(std::string& out, std::string_view value) {
    for (const char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c; break;
        }
    }
}

std::string xml_unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const Entity& entity : kEntities) {
                if (text.substr(i).starts_with(entity.written)) {
                    out += entity.plain;
                    i += entity.written.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

void append_line_value(std::string& out, std::string_view value) {
    for (const char c : value) out += (c == '\r' || c == '\n') ? ' ' : c;
}

}  // namespace kit::platform
