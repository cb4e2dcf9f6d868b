#ifndef KIT_VCARD_HEX_H
#define KIT_VCARD_HEX_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

using Bytes = std::vector<uint8_t>;

// Upper-case hex, no separators.
std::string to_hex(std::span<const uint8_t> bytes);
// Hex digits with optional spaces; nullopt on anything else or an odd count.
std::optional<Bytes> from_hex(std::string_view text);

}  // namespace vcard

#endif
