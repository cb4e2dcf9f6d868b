// TEMPORARY until the engine's base64 lands.
#include "tarvik/engine/crypto/base64.h"
#include <openssl/evp.h>
int dataToBase64(const unsigned char* data, uint32_t count, unsigned char* text, int* text_len) {
    *text_len = 0;
    if (!data || !text || count == 0) return -1;
    int n = EVP_EncodeBlock(text, data, static_cast<int>(count));
    if (n < 0) return -1;
    *text_len = n;
    return 0;
}
int base64ToData(const unsigned char* text, uint32_t length, unsigned char* data, int* count) {
    *count = 0;
    if (!data || !text || length == 0) return -1;
    int n = EVP_DecodeBlock(data, text, static_cast<int>(length));
    if (n < 0) return -1;
    *count = n;
    return 0;
}
