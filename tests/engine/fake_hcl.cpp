#include "fake_hcl.h"

#include <cstring>

#include "tarvik/reader/hcl.h"

FakeSisCard& fake_sis_card() {
    static FakeSisCard card;
    return card;
}

int HCL_card_status(int /*handle*/, unsigned char* atr, unsigned int* atr_len, uint16_t* sw) {
    FakeSisCard& card = fake_sis_card();
    if (card.status_result != 0) return card.status_result;
    atr[0] = card.atr_first;
    *atr_len = 1;
    *sw = card.status_word;
    return 0;
}

int HCL_sync_card_read(int /*handle*/, unsigned char* buffer, uint16_t address, uint16_t length, int /*unused*/) {
    FakeSisCard& card = fake_sis_card();
    ++card.reads;
    if (card.read_result != 0) return card.read_result;
    if (static_cast<std::size_t>(address) + length > card.memory.size()) return -1;
    std::memcpy(buffer, card.memory.data() + address, length);
    return 0;
}
