// Filling and emptying the call records of SCR_VerifyPIN. Every init_
// function refuses a null record, null texts and null data with a non-zero
// length (-1) and leaves the record as it was; 0 on success. Buffers come
// from calloc, so the library could release them too; the free_ functions
// release them and accept records that were never filled (zeroed).
#ifndef TARVIK_READER_SPE_RECORDS_H
#define TARVIK_READER_SPE_RECORDS_H

#include <cstdint>

#include "tarvik/reader/outside_interfaces.h"

int init_S_SPE_BYTES(S_SPE_BYTES* record, const unsigned char* data, uint32_t length);
// language keeps its first two characters.
int init_S_SPE_CARD(S_SPE_CARD* record, SCARDHANDLE card_handle, const char* language, const unsigned char* id,
                    uint32_t id_length, int reserved);
int init_S_SPE_APPLICATION(S_SPE_APPLICATION* record, const unsigned char* id, uint32_t id_length,
                           const char* short_name, const char* long_name);
int init_S_SPE_PIN_USAGE(S_SPE_PIN_USAGE* record, int code, const char* short_name, const char* long_name);
int free_S_SPE_BYTES(S_SPE_BYTES* record);
int free_S_SPE_CARD(S_SPE_CARD* record);
int free_S_SPE_APPLICATION(S_SPE_APPLICATION* record);
int free_S_SPE_PIN_USAGE(S_SPE_PIN_USAGE* record);

#endif
