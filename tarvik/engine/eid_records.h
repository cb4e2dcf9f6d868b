// Plain records the engine passes card data, server data and transaction
// results around in, with their life-cycle functions.
//
// Allocation rule: every buffer a record holds is one zero byte longer than
// its content, so it is always NUL-terminated. Buffers come from std::malloc;
// only a record's free_ function (or the TLLV decoder replacing a member)
// releases them, and free_ leaves the record initialised again.
//
// Failures are traced at level 8 (DEBUG) with the function's name.
#ifndef TARVIK_ENGINE_EID_RECORDS_H
#define TARVIK_ENGINE_EID_RECORDS_H

#include <cstdint>

struct S_EID_DATA {
    uint32_t dsc_len;
    unsigned char* dsc;
    uint32_t dta_len;
    unsigned char* dta;
};

struct S_EID_CERT {
    uint32_t no;  // 2, 3, 4, 6 or 8; 0 for any other number
    uint32_t crt_len;
    unsigned char* crt;  // DER bytes
    uint32_t dsc_len;
    char* dsc;  // name of the PEM file the certificate was saved to
};

// Fixed-width text records: only ever cleared.
struct S_EID_ID_RN_FOR {
    char f01[13], f02[17], f03[9], f04[9], f05[60], f06[15], f07[100], f08[85], f09[5];
    char f10[75], f11[70], f12[13], f13[2], f14[40], f15[6], f16[6], f17[21];
};
struct S_EID_ID_ADDRESS_FOR {
    char f01[73], f02[10], f03[50];
};

inline constexpr int EID_REQUEST_MASKS = 10;

struct S_EID_FUNCTION_INPUT {
    S_EID_DATA in_aux1, in_aux2, in_aux3;
    S_EID_DATA id_session;
    int32_t function_id;
    int32_t request_mask[EID_REQUEST_MASKS];
    S_EID_DATA pincode;
    S_EID_DATA in_aux4;
    S_EID_DATA hash1;
    S_EID_DATA doc_ref1;
    S_EID_DATA in_aux5, in_aux6;
};

struct S_EID_FUNCTION_OUTPUT {
    S_EID_DATA id_reference;    // [2]
    S_EID_DATA id_transaction;  // [4]
    S_EID_DATA id_session;      // [5]
    int32_t function_id;        // [1]
    S_EID_ID_RN_FOR id_rn_for;
    S_EID_ID_ADDRESS_FOR id_address_for;
    S_EID_DATA id_rn;            // [56] file 4031
    S_EID_DATA id_address;       // [57] file 4033
    S_EID_DATA id_photo;         // [58] file 4035
    S_EID_DATA id_rn_aux;        // [66]
    S_EID_DATA id_address_aux;   // [67]
    S_EID_DATA id_photo_aux;     // [68]
    S_EID_DATA id_rn_photo_hash; // [59]
    S_EID_DATA sgn_rn;           // [76] file 4032
    S_EID_DATA sgn_address;      // [77] file 4034
    S_EID_DATA sgn_photo;        // [78]
    int32_t id_rn_stat;          // [86]
    int32_t id_address_stat;     // [87]
    int32_t id_photo_stat;       // [88]
    S_EID_DATA aux_96;           // [96]
    S_EID_CERT cert2, cert3, cert4, cert6, cert8;                       // [101..105]
    S_EID_DATA cert2_aux, cert3_aux, cert4_aux, cert6_aux, cert8_aux;  // [111..115]
    int32_t cert2_ccv_stat, cert3_ccv_stat;                             // [121, 122]
    int32_t cert2_aux_stat, cert3_aux_stat;                             // [126, 127]
    int32_t cert2_stat, cert3_stat, cert4_stat, cert6_stat, cert8_stat; // [131..135]
    int32_t aux_141;         // [141]
    S_EID_DATA auth_chal;    // [146]
    S_EID_DATA auth_sgn;     // [147]
    int32_t auth_stat;       // [148]
    S_EID_DATA sign_hash;    // [156]
    S_EID_DATA sign_sgn;     // [157]
    int32_t sign_stat;       // [158]
    S_EID_DATA aux_166;      // [166]
    S_EID_DATA aux_spare;
    S_EID_DATA id_card;  // SHA-1 of the identity signature file
};

// All return 0 on success and -1 on failure (a null record, a negative length
// or a failed allocation), unless said otherwise.

// The empty forms: pointers null, lengths (and a certificate's number) 0.
// They do not free what the record held; use them on fresh records.
int init_S_EID_DATA(S_EID_DATA* eid_data);
int init_S_EID_CERT(S_EID_CERT* eid_cert);

// The filling forms, pair by pair: a null source empties the pair, a source
// with a positive length gets a new buffer holding a copy, a source with
// length 0 leaves the pair as it was. A negative length fails before anything
// is touched; a failed allocation leaves that pair empty and fails.
// A certificate keeps its number when it is 2, 3, 4, 6 or 8, else 0.
int init_S_EID_DATA(S_EID_DATA* eid_data, const unsigned char* dta, int32_t dta_len, const unsigned char* dsc,
                    int32_t dsc_len);
int init_S_EID_CERT(S_EID_CERT* eid_cert, const unsigned char* crt, int32_t crt_len, uint32_t no, const char* dsc,
                    int32_t dsc_len);

// Zero-fill the text records.
int init_S_EID_ID_RN_FOR(S_EID_ID_RN_FOR* eid_id_rn_for);
int init_S_EID_ID_ADDRESS_FOR(S_EID_ID_ADDRESS_FOR* eid_id_address_for);
// Every byte string and certificate empty, every integer 0, text records
// cleared. Like the empty forms above, they free nothing.
int init_S_EID_FUNCTION_INPUT(S_EID_FUNCTION_INPUT* input);
int init_S_EID_FUNCTION_OUTPUT(S_EID_FUNCTION_OUTPUT* output);

// 1 when empty (a null record counts as empty), else 0. Never traced.
int is_empty_S_EID_DATA(const S_EID_DATA* eid_data);
int is_empty_S_EID_CERT(const S_EID_CERT* eid_cert);
int is_empty_S_EID_CERT_dsc(const S_EID_CERT* eid_cert);

// 0 when the record holds content (and, for a certificate, a known number).
int ctrl_S_EID_DATA(const S_EID_DATA* eid_data);
int ctrl_S_EID_CERT(const S_EID_CERT* eid_cert);

// Frees what the copy held (dta and dsc), then gives it its own copy of the
// source's dta when the source holds content (dsc is not copied). Copying a
// record onto itself changes nothing.
int copy_S_EID_DATA(const S_EID_DATA* original_data, S_EID_DATA* copied_data);
// Lower the length past trailing zero bytes (the buffer is kept, so the zero
// byte after the content stays). An empty record is left as it is.
int trim_S_EID_DATA(S_EID_DATA* eid_data);
int trim_S_EID_CERT(S_EID_CERT* cert);

// Release the buffers and leave the record initialised again.
int free_S_EID_DATA(S_EID_DATA* eid_data);
int free_S_EID_CERT(S_EID_CERT* eid_cert);
int free_S_EID_FUNCTION_INPUT(S_EID_FUNCTION_INPUT* input);
int free_S_EID_FUNCTION_OUTPUT(S_EID_FUNCTION_OUTPUT* output);

// A buffer by the allocation rule for writers outside this unit (decoders,
// card reads): `length` + 1 zero-filled bytes holding a copy of `source`
// (which may be null when `length` is 0). Null when the allocation fails.
unsigned char* new_eid_buffer(const void* source, uint32_t length);

#endif
