#include "tools/vcard/apdu.h"

namespace vcard {

Bytes Response::encode() const {
    Bytes out = data;
    out.push_back(static_cast<uint8_t>(sw >> 8));
    out.push_back(static_cast<uint8_t>(sw & 0xFF));
    return out;
}

std::optional<Command> parse_command(std::span<const uint8_t> apdu) {
    if (apdu.size() < 4) return std::nullopt;
    Command c{apdu[0], apdu[1], apdu[2], apdu[3], {}, std::nullopt};
    if (apdu.size() == 4) return c;
    if (apdu.size() == 5) {
        c.le = apdu[4] == 0 ? 256u : apdu[4];
        return c;
    }
    const std::size_t lc = apdu[4];
    if (lc == 0 || apdu.size() < 5 + lc || apdu.size() > 6 + lc) return std::nullopt;
    c.data.assign(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (apdu.size() == 6 + lc) c.le = apdu[5 + lc] == 0 ? 256u : apdu[5 + lc];
    return c;
}

}  // namespace vcard
