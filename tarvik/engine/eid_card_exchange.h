// One APDU exchange with the eID card for the PIN and signing steps: the
// response lands in a buffer that holds anything the reader layer can return.
#ifndef TARVIK_ENGINE_EID_CARD_EXCHANGE_H
#define TARVIK_ENGINE_EID_CARD_EXCHANGE_H

#include <array>
#include <cstdint>
#include <span>

#include "tarvik/reader/hcl.h"

struct EidCardReply {
    std::array<unsigned char, HCL_RESPONSE_MAX> data{};
    unsigned int length = 0;
    uint16_t sw = 0;
};

// true when the card answered (any status word); false when the exchange
// failed or the APDU was refused by the reader layer.
bool eid_card_exchange(int handle, std::span<const unsigned char> apdu, EidCardReply& reply);

#endif
