// Decodes arbitrary text with a capacity taken from the first byte, and
// encodes the input and decodes it back: the bytes must come back, followed
// by one zero byte per "=" of padding.
#include "tarvik/engine/crypto/eid_crypto.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 12000) return 0;
    const std::size_t capacity = static_cast<std::size_t>(data[0]) * 4;
    std::vector<unsigned char> bytes(capacity == 0 ? 1 : capacity);
    int count = -1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const int rc = base64ToData(text, static_cast<uint32_t>(size - 1), bytes.data(), &count, capacity);
    if (rc != 0 && rc != -1) __builtin_trap();
    if (rc == 0 && (count < 0 || static_cast<std::size_t>(count) > capacity)) __builtin_trap();
    if (rc == -1 && count != 0) __builtin_trap();

    std::vector<char> encoded(base64_encoded_size(size));
    int length = 0;
    if (dataToBase64(data, static_cast<uint32_t>(size), encoded.data(), &length, encoded.size()) != 0) __builtin_trap();
    std::vector<unsigned char> decoded(base64_decoded_size(static_cast<std::size_t>(length)));
    if (base64ToData(encoded.data(), static_cast<uint32_t>(length), decoded.data(), &count, decoded.size()) != 0)
        __builtin_trap();
    const std::size_t padding = (3 - size % 3) % 3;
    if (static_cast<std::size_t>(count) != size + padding) __builtin_trap();
    if (std::memcmp(decoded.data(), data, size) != 0) __builtin_trap();
    for (std::size_t i = size; i < size + padding; ++i)
        if (decoded[i] != 0) __builtin_trap();
    return 0;
}
