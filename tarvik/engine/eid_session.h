// The reader that every card operation uses, the card-presence test, the
// random challenge, transaction identifiers and the photo hash taken from
// the identity file. All results are int; process-wide state is guarded by
// the library's lock, which every export holds (one call at a time).
#ifndef TARVIK_ENGINE_EID_SESSION_H
#define TARVIK_ENGINE_EID_SESSION_H

#include <cstddef>

#include "tarvik/engine/eid_records.h"

// Selected reader name buffer: 255 characters and the terminating zero.
inline constexpr std::size_t EID_READER_NAME_SIZE = 256;
inline constexpr int EID_CHALLENGE_LENGTH = 20;
inline constexpr int EID_TRANSACTION_ID_LENGTH = 32;  // text buffers hold 33 bytes
inline constexpr int EID_PHOTO_HASH_LENGTH = 20;
// Result of eidGenerateChallenge for a null record.
inline constexpr int EID_CHALLENGE_NULL_RECORD = -3;

// The selected reader name ("" when none); valid until the next open.
const char* eid_selected_reader_name();

// Appends the XML reader list (root PCSC_Get_devices) to text, a string in
// a buffer of 4,096 bytes. Returns HCL_get_readers' result (0).
int eidGetIccList(char* text);
// Selects the reader and opens it: the device handle, -1 (connection
// failed, null name, or a name of 256 characters or more, which is refused
// and leaves the selection as it was) or -2 (no PC/SC context).
int eidOpenReader(const char* name);
// The same with the handle (or -1 / -2) stored in *handle; returns 0 on
// every path but a null out (-1).
int eidOpenReaderB(const char* name, int* handle);
// 1 when a card is present, else 0.
int eidCardPresent(int handle);

// 20 random bytes into the record; a buffer that holds at least 20 bytes is
// reused, a shorter one replaced. 0, EID_CHALLENGE_NULL_RECORD, or -1 when
// no random bytes or no buffer could be had.
int eidGenerateChallenge(S_EID_DATA* challenge);
// A new 32-character identifier "YYYYMMDD_hhmmss_" + 16 upper-case hex digits
// of 8 random bytes, as a record of length 32 (what it held is freed).
// 0, or -1 (null record, no random bytes, failed allocation).
int eidGenerateTransactionID(S_EID_DATA* id);
// The same text and a terminating zero into text (at least 33 bytes).
// 0, or -1 (null text, no random bytes).
int eidGenerateTransactionIDText(char* text);

// hash := the identity file's photo-hash item (its last item, 20 bytes);
// what hash held is released first. 0, or -1 with a trace for a null
// argument, an empty identity file or one shorter than 20 bytes, or a
// failed allocation.
int eidGetIdRnPhotoHash(const S_EID_DATA* id_rn, S_EID_DATA* hash);

#endif
