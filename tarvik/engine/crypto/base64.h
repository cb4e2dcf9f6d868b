// TEMPORARY until the engine's base64 lands.
#ifndef TARVIK_ENGINE_CRYPTO_BASE64_H
#define TARVIK_ENGINE_CRYPTO_BASE64_H
#include <cstdint>
int dataToBase64(const unsigned char* data, uint32_t count, unsigned char* text, int* text_len);
int base64ToData(const unsigned char* text, uint32_t length, unsigned char* data, int* count);
#endif
