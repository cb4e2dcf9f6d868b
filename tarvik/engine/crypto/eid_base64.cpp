#include <climits>
#include <cstring>
#include <vector>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"

int dataToBase64(const unsigned char* bytes, uint32_t count, char* text, int* length, std::size_t capacity) {
    if (length != nullptr) *length = 0;
    if (bytes == nullptr || text == nullptr || length == nullptr) {
        CRYPTO_TRACE("ERROR in dataToBase64, unsigned char * is NULL");
        return -1;
    }
    if (count == 0) {
        CRYPTO_TRACE("ERROR in dataToBase64, unsigned int too small");
        return -1;
    }
    if (count > INT_MAX / 2 || capacity < base64_encoded_size(count)) {
        CRYPTO_TRACE("ERROR in dataToBase64, output buffer too small");
        return -1;
    }
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text), bytes, static_cast<int>(count));
    if (n < 0) {
        CRYPTO_TRACE("ERROR in dataToBase64, integer length negative ");
        return -1;
    }
    *length = n;
    return 0;
}

int dataToBase64(const unsigned char* bytes, uint32_t count, char* text, int* length) {
    return dataToBase64(bytes, count, text, length, base64_encoded_size(count));
}

int base64ToData(const char* text, uint32_t length, unsigned char* bytes, int* count, std::size_t capacity) {
    if (count != nullptr) *count = 0;
    if (text == nullptr || bytes == nullptr || count == nullptr) {
        CRYPTO_TRACE("ERROR in base64ToData, unsigned char * is NULL");
        return -1;
    }
    if (length == 0) {
        CRYPTO_TRACE("ERROR in base64ToData, unsigned int too small");
        return -1;
    }
    if (length > INT_MAX) {
        CRYPTO_TRACE("ERROR in base64ToData, integer length negative ");
        return -1;
    }
    std::vector<unsigned char> decoded(base64_decoded_size(length) + 3);
    const int n = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text),
                                  static_cast<int>(length));
    if (n < 0) {
        CRYPTO_TRACE("ERROR in base64ToData, integer length negative ");
        return -1;
    }
    if (static_cast<std::size_t>(n) > capacity) {
        CRYPTO_TRACE("ERROR in base64ToData, output buffer too small");
        return -1;
    }
    std::memcpy(bytes, decoded.data(), static_cast<std::size_t>(n));
    *count = n;
    return 0;
}

int base64ToData(const char* text, uint32_t length, unsigned char* bytes, int* count) {
    return base64ToData(text, length, bytes, count, base64_decoded_size(length));
}
