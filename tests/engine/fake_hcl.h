// A stand-in for the two reader-layer calls the SIS read makes, serving an
// SLE4418 memory image; linked only into the SIS test.
#ifndef TESTS_ENGINE_FAKE_HCL_H
#define TESTS_ENGINE_FAKE_HCL_H

#include <cstdint>
#include <vector>

struct FakeSisCard {
    std::vector<unsigned char> memory = std::vector<unsigned char>(1024, 0);
    int status_result = 0;           // what HCL_card_status returns
    std::uint16_t status_word = 0x9000;
    unsigned char atr_first = 0x3B;
    int read_result = 0;             // what HCL_sync_card_read returns
    int reads = 0;                   // reads made
};

FakeSisCard& fake_sis_card();

#endif
