// Reads of the eID card's files over SELECT and READ BINARY, and the check
// that the card in the reader is an eID card. Every function takes the
// device handle of the opened reader (tarvik/reader/hcl.h) first and keeps
// no state between calls.
//
// File tree: 3F00/DF01/4031 identity, 4032 identity signature, 4033
// address, 4034 address signature, 4035 photo, 4036 photo signature;
// 3F00/DF00/5038..503C certificates 2, 3, 4, 6 and 8.
//
// Failures are traced at level 8 under the function's name.
#ifndef TARVIK_ENGINE_EID_CARD_FILES_H
#define TARVIK_ENGINE_EID_CARD_FILES_H

#include <cstdint>

#include "tarvik/engine/eid_records.h"

// Largest file a read accepts: the size of the destination of eidReadBinary.
inline constexpr int EID_FILE_BUFFER_SIZE = 4096;
inline constexpr int EID_READ_BLOCK = 128;       // bytes asked per READ BINARY
inline constexpr int EID_READ_MAX_BLOCKS = 200;  // blocks asked at most
inline constexpr int EID_PAUSE_MS = 20;          // after each block and each SELECT of the check
inline constexpr int EID_CHECK_TRANSACTION_TIMEOUT_MS = 10;  // the check's own transaction

// eidCheckCard results.
inline constexpr int EID_CHECK_STATUS = 3000;          // card status not readable
inline constexpr int EID_CHECK_INCORRECT_SW = 3001;    // status word other than 9000
inline constexpr int EID_CHECK_INCORRECT_ATR = 3002;   // ATR begins FF or not 3B 98
inline constexpr int EID_CHECK_NO_EID_CARD = 3003;     // SELECT 3F00, DF01 or 4031 refused
inline constexpr int EID_CHECK_COMMAND_FAILED = 3004;  // a SELECT exchange failed

// Data-file reads: read the file into an empty target, then drop trailing
// padding. The identity file is never cut inside its last item (its photo
// hash may end in zero bytes); signature files are not trimmed at all.
// Result: 0, or eidReadDataFile's non-zero result, or trim_S_EID_DATA's.
int eidReadIdRn(int handle, S_EID_DATA* target);        // 4031
int eidReadSgnRn(int handle, S_EID_DATA* target);       // 4032
int eidReadIdAddress(int handle, S_EID_DATA* target);   // 4033
int eidReadSgnAddress(int handle, S_EID_DATA* target);  // 4034
int eidReadIdPhoto(int handle, S_EID_DATA* target);     // 4035
int eidReadSgnPhoto(int handle, S_EID_DATA* target);    // 4036

// The identity file's items (tag, one-byte length, value; tag 0 is an item
// too) walked by their lengths from the start to the file's zero padding:
// the end of the last item and its offset, or {0, -1} when the bytes are
// not such a list.
struct EidItems {
    uint32_t end = 0;
    long last = -1;
};
EidItems eidWalkItems(const unsigned char* bytes, uint32_t length);

// SELECT 3F00, DF01 and file_id, then the READ BINARY loop into target
// (a new buffer by the allocation rule; the target's old buffer is not
// freed: pass an empty record).
// Result: 0; 1 when a SELECT failed (the caller's PC/SC transaction is then
// ended); -1 for a failed exchange, a file over EID_FILE_BUFFER_SIZE bytes,
// a null target or a failed allocation; or the status word that refused a
// block.
int eidReadDataFile(int handle, int file_id, S_EID_DATA* target);

// SELECT 3F00, DF00 and the file of certificate number (2, 3, 4, 6, 8; any
// other number selects 0000), READ BINARY loop, fill the empty target. The
// certificate's length is its DER length when the content starts with a
// readable DER header, so a certificate ending in zero bytes is kept whole.
// Result: 0; -1 when a SELECT fails (the PC/SC transaction stays held), the
// allocation fails or the target is null; the loop's failure result; or
// trim_S_EID_CERT's non-zero result.
int eidReadCertificate(int handle, unsigned int number, S_EID_CERT* target);

// The READ BINARY loop in blocks of block_length bytes (1 to 255) from
// offset 0 on. destination holds EID_FILE_BUFFER_SIZE bytes.
// Result: 1 on success with the content in destination and its length in
// *file_length; -1 when an exchange fails, an argument is refused or the file
// is longer than EID_FILE_BUFFER_SIZE (nothing past the buffer is written,
// *file_length untouched); or the status word that ended the read.
int eidReadBinary(int handle, unsigned char* destination, int block_length, int* file_length);

// Card present and powered, ATR 3B 98 ..., then SELECT 3F00, DF01, 4031 in
// a short PC/SC transaction of its own (always ended). Its first status
// read is made with that transaction's begin, so a card another process
// holds gives HCL_TRANSACTION_NOT_GRANTED as soon as the begin's deadline
// has passed.
// Result: 0, EID_CHECK_* (3000 to 3004), or HCL_card_Start_transaction's
// non-zero result.
int eidCheckCard(int handle);

#endif
