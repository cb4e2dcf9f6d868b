// The hash a host hands over as hexadecimal text.
#ifndef TARVIK_FACES_HASH_TEXT_H
#define TARVIK_FACES_HASH_TEXT_H

#include <string_view>

inline constexpr unsigned HASH_TEXT_BYTES = 20;

// True for 1 to 40 hexadecimal digits (either case) and nothing else: any
// other character would become a byte the card signs.
bool is_hash_text(std::string_view text);

#endif
