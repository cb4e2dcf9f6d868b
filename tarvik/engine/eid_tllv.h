// TLLV codec of the server exchange: turns selected members of the two
// transaction records into a flat list of items and a received list back into
// the records.
//
// Wire item: 1 byte tag (1-255; 0 ends a list on reading), 2 bytes value length
// (little-endian), the value. Integers travel as 4 little-endian bytes. Items
// follow the fixed order of the 55-row mapping table (see eid_tllv.cpp), in
// both directions; a reply is stored only as far as its items follow that
// order under selected tags.
//
// Failures are traced at level 8 (DEBUG) with the function's name.
#ifndef TARVIK_ENGINE_EID_TLLV_H
#define TARVIK_ENGINE_EID_TLLV_H

#include "tarvik/engine/eid_records.h"

#include <cstdint>

// Row kinds.
inline constexpr uint32_t TLLV_KIND_INTEGER = 4000;  // 32-bit member, 4 bytes
inline constexpr uint32_t TLLV_KIND_BYTES = 4001;    // encoding: the member's bytes
inline constexpr uint32_t TLLV_KIND_DATA = 4002;     // decoding: an S_EID_DATA
inline constexpr uint32_t TLLV_KIND_CERT = 4003;     // decoding: an S_EID_CERT's crt

inline constexpr int32_t EID_TLLV_ROWS = 55;
// Limit of one encoded request, item headers included.
inline constexpr uint32_t EID_TLLV_MAX_ENCODED = 13000;
// At most this many items of a reply are parsed.
inline constexpr uint32_t EID_TLLV_MAX_ITEMS = 128;
// A member's value length must fit the 16-bit length field.
inline constexpr uint32_t EID_TLLV_MAX_VALUE = 65535;

// One row of a mapping table.
struct S_EID_TLLV_TAG {
    uint16_t tag;     // only the low byte travels
    uint16_t length;  // value length (encoding)
    void* value;      // the member (integer, S_EID_DATA, S_EID_CERT) or, for 4001, its bytes
    uint32_t kind;    // TLLV_KIND_*
    int32_t selected; // the row takes part only when > 0
};

// The flags that choose the rows of one exchange; a flag selects when > 0.
struct S_EID_TLLV_SELECTOR {
    int32_t id_reference;
    int32_t id_transaction;
    int32_t id_session;
    int32_t function_id;
    int32_t request_mask;
    int32_t id_rn;
    int32_t id_rn_aux;
    int32_t sgn_rn;
    int32_t id_rn_stat;
    int32_t id_address;
    int32_t id_address_aux;
    int32_t sgn_address;
    int32_t id_address_stat;
    int32_t id_photo;
    int32_t id_photo_aux;
    int32_t sgn_photo;
    int32_t id_rn_photo_hash;
    int32_t id_photo_stat;
    int32_t aux_96;
    int32_t certs;
    int32_t certs_aux;
    int32_t ccv_stat;
    int32_t cert_aux_stat;
    int32_t cert_stat;
    int32_t aux_141;
    int32_t auth_chal;
    int32_t auth_sgn;
    int32_t auth_stat;
    int32_t sign_hash;
    int32_t sign_sgn;
    int32_t sign_stat;
    int32_t aux_166;
};

// Sets every flag to 1. 0, or -1 for a null selector.
int init_S_EID_TLLV_SELECTOR(S_EID_TLLV_SELECTOR* selector);

// Encodes the selected members: a selected integer is always sent, a byte
// string or certificate only when it holds content. Returns a new std::malloc
// buffer of *length bytes plus one zero byte (the caller frees it), or null:
// with *length 0 when nothing is selected, or on failure (a null argument,
// more than EID_TLLV_MAX_ENCODED bytes, a selected member longer than
// EID_TLLV_MAX_VALUE bytes, a failed allocation).
unsigned char* eidStructs2TLLV(const S_EID_FUNCTION_INPUT* input, const S_EID_FUNCTION_OUTPUT* output,
                               const S_EID_TLLV_SELECTOR* selector, uint32_t* length);

// Writes the selected rows (length > 0, selected > 0) of `table` in order into
// `destination` of `size` bytes; *written receives the bytes written.
// 0, or -1 (null argument, negative count, or size too small: nothing written).
int data2tllv(const S_EID_TLLV_TAG* table, int32_t rows, unsigned char* destination, uint32_t size,
              uint32_t* written);

// Stores the reply's items into the records by the in-order matching rule.
// Returns 0, also for a reply that is malformed or only partly stored; -1 for
// a null argument or a failed allocation.
int eidTLLV2Structs(const unsigned char* buffer, uint32_t length, S_EID_FUNCTION_INPUT* input,
                    S_EID_FUNCTION_OUTPUT* output, const S_EID_TLLV_SELECTOR* selector);

// Parses at most min(rows, EID_TLLV_MAX_ITEMS) items of `buffer` (*parsed
// receives their count) and stores them by matching `table` in order: a row
// takes the current item when the tags are equal and the row is selected.
// Parsing ends at a 0 tag or at an item that runs past `length`; storing ends
// at an item no remaining row takes and at an integer item whose length is
// not 4. Returns 0, or -1 for a null argument or a failed allocation.
int tllv2data(const unsigned char* buffer, uint32_t length, S_EID_TLLV_TAG* table, uint32_t rows,
              uint32_t* parsed);

#endif
