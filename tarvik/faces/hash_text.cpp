#include "tarvik/faces/hash_text.h"

#include <cctype>

bool is_hash_text(std::string_view text) {
    if (text.empty() || text.size() > 2 * HASH_TEXT_BYTES) return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}
