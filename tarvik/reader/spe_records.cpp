#include "tarvik/reader/spe_records.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using CBuffer = std::unique_ptr<T, FreeDeleter>;

CBuffer<char> copy_text(const char* text, std::size_t max_chars) {
    const std::size_t n = strnlen(text, max_chars);
    CBuffer<char> copy(static_cast<char*>(std::calloc(n + 1, 1)));
    if (copy) std::memcpy(copy.get(), text, n);
    return copy;
}

CBuffer<char> copy_text(const char* text) { return copy_text(text, std::strlen(text)); }

}  // namespace

int init_S_SPE_BYTES(S_SPE_BYTES* record, const unsigned char* data, uint32_t length) {
    if (!record || (!data && length > 0)) return -1;
    CBuffer<unsigned char> buffer(static_cast<unsigned char*>(std::calloc(std::size_t{length} + 1, 1)));
    if (!buffer) return -1;
    if (length > 0) std::memcpy(buffer.get(), data, length);
    record->data = buffer.release();
    record->length = length;
    return 0;
}

int init_S_SPE_CARD(S_SPE_CARD* record, SCARDHANDLE card_handle, const char* language, const unsigned char* id,
                    uint32_t id_length, int reserved) {
    if (!record || !language) return -1;
    auto lang = copy_text(language, 2);
    S_SPE_BYTES id_bytes{};
    if (!lang || init_S_SPE_BYTES(&id_bytes, id, id_length) != 0) return -1;
    record->card_handle = card_handle;
    record->language = lang.release();
    record->id = id_bytes;
    record->reserved = reserved;
    return 0;
}

int init_S_SPE_APPLICATION(S_SPE_APPLICATION* record, const unsigned char* id, uint32_t id_length,
                           const char* short_name, const char* long_name) {
    if (!record || !short_name || !long_name) return -1;
    auto short_copy = copy_text(short_name);
    auto long_copy = copy_text(long_name);
    S_SPE_BYTES id_bytes{};
    if (!short_copy || !long_copy || init_S_SPE_BYTES(&id_bytes, id, id_length) != 0) return -1;
    record->id = id_bytes;
    record->short_name = short_copy.release();
    record->long_name = long_copy.release();
    return 0;
}

int init_S_SPE_PIN_USAGE(S_SPE_PIN_USAGE* record, int code, const char* short_name, const char* long_name) {
    if (!record || !short_name || !long_name) return -1;
    auto short_copy = copy_text(short_name);
    auto long_copy = copy_text(long_name);
    if (!short_copy || !long_copy) return -1;
    record->code = code;
    record->short_name = short_copy.release();
    record->long_name = long_copy.release();
    return 0;
}

int free_S_SPE_BYTES(S_SPE_BYTES* record) {
    if (!record) return -1;
    std::free(record->data);
    record->data = nullptr;
    record->length = 0;
    return 0;
}

int free_S_SPE_CARD(S_SPE_CARD* record) {
    if (!record) return -1;
    record->card_handle = 0;
    std::free(record->language);
    record->language = nullptr;
    free_S_SPE_BYTES(&record->id);
    record->reserved = 0;
    return 0;
}

int free_S_SPE_APPLICATION(S_SPE_APPLICATION* record) {
    if (!record) return -1;
    free_S_SPE_BYTES(&record->id);
    std::free(record->short_name);
    std::free(record->long_name);
    record->short_name = record->long_name = nullptr;
    return 0;
}

int free_S_SPE_PIN_USAGE(S_SPE_PIN_USAGE* record) {
    if (!record) return -1;
    record->code = 0;
    std::free(record->short_name);
    std::free(record->long_name);
    record->short_name = record->long_name = nullptr;
    return 0;
}
