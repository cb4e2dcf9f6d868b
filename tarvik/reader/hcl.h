// The only door from the engine and the faces into the reader layer.
//
// Every wrapper but the first two takes the device handle that
// HCL_open_reader returned; a handle that the layer did not hand out is
// refused with HCL_E_UNKNOWN_HANDLE (HCL_card_present answers 0).
#ifndef TARVIK_READER_HCL_H
#define TARVIK_READER_HCL_H

#include <cstdint>

#include <PCSC/winscard.h>

inline constexpr int HCL_E_UNKNOWN_HANDLE = -100;
inline constexpr int HCL_SYNC_NOT_SUPPORTED = 9999;
inline constexpr int HCL_READER_LIST_MAX = 4096;  // bytes, terminator included

// Appends the XML reader list to text (a string of at most HCL_READER_LIST_MAX
// bytes in all); returns 0.
int HCL_get_readers(char* text);
// The device handle, -1 (connection failed) or -2 (no PC/SC context).
int HCL_open_reader(const char* name);
int HCL_get_card_handle(int handle, SCARDHANDLE* card);
// 1 when a card is present, else 0.
int HCL_card_present(int handle);
// 0, 1 (card removed or reader unavailable) or a PC/SC error. atr holds 64 bytes.
int HCL_get_card_status(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len);
// 0 (status word 0x9000), -1 status failed, -2 card absent, -3 card not powered.
int HCL_card_status(int handle, unsigned char* atr, unsigned int* atr_len, uint16_t* sw);
// One APDU exchange (5-byte header + data); the response (at most 1022 bytes)
// goes to response. 0 with any status word, -1 when no status word came.
int HCL_card_command_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                           unsigned int* response_len, uint16_t* sw);
// 0, 2 (time-out) or -99 (card removed).
int HCL_card_Start_transaction(int handle, int timeout_ms);
int HCL_card_End_transaction(int handle);
// SLE4418 memory read: 0 or the library's result, 9999 when not possible.
int HCL_sync_card_read(int handle, unsigned char* buffer, uint16_t address, uint16_t length, int unused);
// 0 or -1.
int HCL_load_spe_reader_dll(const char* name);
int HCL_service_running(const char* name, int* running);
void HCL_sleep(int milliseconds);

#endif
