// Fuzz target: SFDF bytes straight from a card reply must decode and render
// without reading out of bounds, and every rendering must fit the SFDF buffer.
#include <cstddef>
#include <cstdint>
#include <span>

#include "selvane/sfdf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace selvane::sfdf;
    const std::span<const std::uint8_t> tlv(data, size);
    const auto certificate = tlv.first(size < kCertificateBytes ? size : kCertificateBytes);
    const Record record = decode(tlv, certificate, "20100323");
    if (record.selected_period > 3) {
        __builtin_trap();
    }
    for (const int mode : {kTextMode, kXmlMode}) {
        if (render(record, mode).size() >= kTextCapacity) {
            __builtin_trap();
        }
    }
    return 0;
}
