// Feeds arbitrary identity and address files to the renderers. The first byte
// chooses the output capacity (scaled); outputs live in heap blocks of exactly
// that size so that a write past them is caught. A result must be 0 or -1 and
// the text must end within the capacity.
#include "tarvik/engine/renderings.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Renderer = int (*)(const S_EID_DATA*, int, char*, std::size_t);

void check(Renderer render, const S_EID_DATA* file, int format, std::size_t capacity) {
    std::vector<char> out(capacity, 'Z');
    const int rc = render(file, format, out.data(), out.size());
    if (rc != 0 && rc != -1) __builtin_trap();
    if (capacity > 0 && std::memchr(out.data(), '\0', out.size()) == nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t capacity = static_cast<std::size_t>(data[0]) * 32;
    // The file in a block of its own size: reading past dta_len is caught.
    std::vector<unsigned char> bytes(data + 1, data + size);
    S_EID_DATA file{};
    file.dta = bytes.empty() ? nullptr : bytes.data();
    file.dta_len = static_cast<uint32_t>(bytes.size());
    for (int format : {0, 1, 2}) {
        check(generateIdRnText, &file, format, capacity);
        check(generateIdAddressText, &file, format, capacity);
    }
    check(generateIdRnText, &file, 1, RENDER_ID_RN_MAX);
    std::vector<char> out(RENDER_TRANSACTION_XML_MAX);
    if (generateTransactionXml(&file, out.data(), out.size()) != (bytes.empty() ? -1 : 0)) __builtin_trap();
    return 0;
}
