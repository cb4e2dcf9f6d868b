// Item walk over SFDF TLV bytes: each item is a 1-byte tag, a 1-byte length
// and that many value bytes. Containers (0xA2, 0xA3, 0xA5) hold items of the
// same form in their value.
//
// Every walk stays inside the bytes it is given: an item whose header or value
// would run past the end is never returned and ends the walk, and a search
// inside a container never leaves that container's value.
#ifndef SELVANE_SFDF_TLV_H
#define SELVANE_SFDF_TLV_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace selvane::sfdf {

using Bytes = std::span<const std::uint8_t>;

// Container tags at the top level of an SFDF.
inline constexpr std::uint8_t kGeneralDataTag = 0xA2;
inline constexpr std::uint8_t kPeriodTag = 0xA3;

// The value of the `n`-th item (counted from 1) tagged `tag`, walking the items
// of `bytes` in order; nullopt when there is none (or `n` is 0).
std::optional<Bytes> find_item(Bytes bytes, std::uint8_t tag, unsigned n = 1);

// How many whole items tagged `tag` the walk of `bytes` meets.
unsigned count_items(Bytes bytes, std::uint8_t tag);

// The value of the first item tagged `tag` inside the `n`-th top-level
// container tagged `container`; nullopt when either is missing.
std::optional<Bytes> find_in_container(Bytes bytes, std::uint8_t container, unsigned n, std::uint8_t tag);

}  // namespace selvane::sfdf

#endif
