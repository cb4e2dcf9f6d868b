// Ready-made cards, chosen with --profile.
#ifndef KIT_VCARD_PROFILES_H
#define KIT_VCARD_PROFILES_H

#include <optional>
#include <string_view>

#include "tools/vcard/card.h"

namespace vcard {

// "eid" (T=0, ATR 3B 98 ...), "eid-t1" (the same files behind a T=1 ATR),
// "sle4418" (memory card with a 1,024-byte image read by FF B0).
std::optional<Card> make_profile(std::string_view name);

// The default memory image byte at an address (what tests compare with).
uint8_t default_memory_byte(std::size_t address);
// Default content of the eID-like files: `size` bytes of a pattern seeded by fid.
Bytes default_file_content(uint16_t fid, std::size_t size);

}  // namespace vcard

#endif
