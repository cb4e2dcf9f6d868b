#include "selvane/sfdf_tlv.h"

namespace selvane::sfdf {
namespace {

struct Item {
    std::uint8_t tag;
    Bytes value;
};

// The whole item at the front of `rest`, or nullopt when it is cut short.
std::optional<Item> item_at(Bytes rest) {
    if (rest.size() < 2) {
        return std::nullopt;
    }
    const std::size_t length = rest[1];
    if (rest.size() - 2 < length) {
        return std::nullopt;
    }
    return Item{rest[0], rest.subspan(2, length)};
}

// Calls `visit` for every whole item of `bytes` until it answers true.
template <typename Visit>
void walk(Bytes bytes, Visit visit) {
    Bytes rest = bytes;
    while (const auto item = item_at(rest)) {
        if (visit(*item)) {
            return;
        }
        rest = rest.subspan(2 + item->value.size());
    }
}

}  // namespace

std::optional<Bytes> find_item(Bytes bytes, std::uint8_t tag, unsigned n) {
    std::optional<Bytes> found;
    if (n == 0) {
        return found;
    }
    walk(bytes, [&](const Item& item) {
        if (item.tag == tag && --n == 0) {
            found = item.value;
        }
        return found.has_value();
    });
    return found;
}

unsigned count_items(Bytes bytes, std::uint8_t tag) {
    unsigned count = 0;
    walk(bytes, [&](const Item& item) {
        count += item.tag == tag ? 1u : 0u;
        return false;
    });
    return count;
}

std::optional<Bytes> find_in_container(Bytes bytes, std::uint8_t container, unsigned n, std::uint8_t tag) {
    const auto inner = find_item(bytes, container, n);
    if (!inner) {
        return std::nullopt;
    }
    return find_item(*inner, tag);
}

}  // namespace selvane::sfdf
