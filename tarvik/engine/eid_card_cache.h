// The last-card cache: the bytes of one card's files and certificates,
// kept by the faces across calls so a second request for the same card need
// not read it again. Flat, no pointers: a zero-filled record is empty.
#ifndef TARVIK_ENGINE_EID_CARD_CACHE_H
#define TARVIK_ENGINE_EID_CARD_CACHE_H

#include <cstdint>

#include "tarvik/engine/eid_records.h"

struct S_EID_CARD_CACHE {
    uint32_t id_card_len;
    unsigned char id_card[32];  // SHA-1 of the identity signature file
    uint32_t id_rn_len;
    unsigned char id_rn[256];
    uint32_t id_address_len;
    unsigned char id_address[256];
    uint32_t id_photo_len;
    unsigned char id_photo[4096];
    uint32_t sgn_rn_len;
    unsigned char sgn_rn[256];
    uint32_t sgn_address_len;
    unsigned char sgn_address[256];
    uint32_t cert2_len;
    unsigned char cert2[2048];
    uint32_t cert3_len;
    unsigned char cert3[2048];
    uint32_t cert4_len;
    unsigned char cert4[2048];
    uint32_t cert6_len;
    unsigned char cert6[2048];
    uint32_t cert8_len;
    unsigned char cert8[2048];
};
static_assert(sizeof(S_EID_CARD_CACHE) == 15436, "the cache layout is shared with the faces");

// Copies every non-empty cacheable member of out (id_card, the five files,
// the five certificates' DER bytes) into its slot; empty members leave their
// slot as it was. A member longer than its slot is left out: that slot is
// emptied, never written past. Returns 0 (also for null arguments, which
// change nothing).
int eidSaveToCardCache(S_EID_CARD_CACHE* cache, const S_EID_FUNCTION_OUTPUT* out);

// Fills the empty members of out that in's function code and request masks
// ask for from the non-empty slots (new heap copies; certificates with their
// number and no PEM file name). Never overwrites a filled member. Returns 0.
int eidLoadFromCardCache(const S_EID_CARD_CACHE* cache, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out);

#endif
