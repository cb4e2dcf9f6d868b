// Wipes a buffer that held a PIN: at once, or when the scope that owns it
// ends, on every path. OPENSSL_cleanse, because a plain memset of a buffer
// about to die is a dead store the optimiser may drop.
#ifndef KIT_PLATFORM_SECRET_WIPE_H
#define KIT_PLATFORM_SECRET_WIPE_H

#include <openssl/crypto.h>

#include <cstddef>
#include <iterator>

inline void wipe_secret(void* bytes, std::size_t size) noexcept {
    if (bytes != nullptr) OPENSSL_cleanse(bytes, size);
}

class WipeOnExit {
public:
    WipeOnExit(void* bytes, std::size_t size) noexcept : bytes_(bytes), size_(size) {}
    // A contiguous buffer of its own (std::array, C array).
    template <typename Buffer>
    explicit WipeOnExit(Buffer& buffer) noexcept
        : WipeOnExit(std::data(buffer), std::size(buffer) * sizeof *std::data(buffer)) {}
    ~WipeOnExit() { wipe_secret(bytes_, size_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    void* bytes_;
    std::size_t size_;
};

#endif
