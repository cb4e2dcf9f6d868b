#include "selvane/bstr.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);
constexpr std::size_t kSuffix = 2;

}  // namespace

extern "C" BSTR SysAllocStringByteLen(const char* text, uint32_t len) {
    auto* block = static_cast<char*>(std::malloc(kPrefix + std::size_t{len} + kSuffix));
    if (!block) return nullptr;
    std::memcpy(block, &len, kPrefix);
    char* bytes = block + kPrefix;
    if (text)
        std::memcpy(bytes, text, len);
    else
        std::memset(bytes, 0, len);
    bytes[len] = '\0';
    bytes[len + 1] = '\0';
    return bytes;
}

extern "C" void SysFreeString(BSTR bstr) {
    if (bstr) std::free(bstr - kPrefix);
}

namespace selvane::bstr {

bool replace(BSTR* slot, std::string_view bytes) {
    BSTR fresh = SysAllocStringByteLen(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (!fresh) return false;
    SysFreeString(*slot);
    *slot = fresh;
    return true;
}

std::uint32_t byte_length(const char* bstr) {
    if (!bstr) return 0;
    std::uint32_t length = 0;
    std::memcpy(&length, bstr - kPrefix, kPrefix);
    return length;
}

}  // namespace selvane::bstr
