// The only door from the engine and the faces into the reader layer.
//
// Device handle: HCL_open_reader hands out the token HCL_DEVICE_HANDLE
// (a fixed value below 32768, never 0 or 1), which stands for the single
// reader object of the process while the last open succeeded. The object is
// made on first use and never destroyed: calls made while the process
// exits still find it. Every
// wrapper but the first two takes that handle and refuses any other value
// with HCL_E_UNKNOWN_HANDLE (HCL_card_present answers 0 instead).
//
// Result codes: -1 generic failure (also null pointers and refused
// lengths), -2 no PC/SC context or card absent, -3 card not powered, -99
// card removed, 1 card removed or reader unavailable (status reads), 2 PC/SC
// transaction not obtained in time, 9999 SLE4418 reading not possible,
// -100 unknown handle; PC/SC errors pass through narrowed to int (negative).
//
// Another process holding the card: pcsc-lite makes every call on the card
// (connect, status, begin, exchange) wait until the holder lets go.
// HCL_card_Start_transaction waits on one thread kept for the process's
// life, stops waiting at its deadline and answers 2 (a late grant is ended
// at once, unless the next begin on the same card has taken the pending
// attempt over); the *_then_start_transaction reads make their status read
// on that thread too, under the same deadline. Everything else waits as
// pcsc-lite does: the status reads alone, an open, and the own transaction
// of a single exchange. A process that has held the card for a few seconds
// on end leaves it free for a moment before its next call's first begin
// (card_turns.h), so that a waiting process gets its turn.
//
// Threads, fork and exit: the layer has no lock of its own. Every export of
// the library holds the library's lock (platform/library_lock.h), so one
// call at a time reaches it. A forked child forgets the context and card
// handle it inherited, without releasing them (that would end its
// parent's), and its next wrapper call opens the reader again by name on a
// connection of its own; when that open fails the handle is unknown to the
// child, as after a failed HCL_open_reader. Once the process exits, and in
// a child whose first PC/SC use has not answered (pcsc_availability.h), no
// PC/SC call is made: handles are unknown, and lists and opens fail as with
// no PC/SC service.
#ifndef TARVIK_READER_HCL_H
#define TARVIK_READER_HCL_H

#include <cstdint>

#include <PCSC/winscard.h>

inline constexpr int HCL_DEVICE_HANDLE = 0x1A2B;
inline constexpr int HCL_E_UNKNOWN_HANDLE = -100;
inline constexpr int HCL_SYNC_NOT_SUPPORTED = 9999;
inline constexpr int HCL_TRANSACTION_NOT_GRANTED = 2;  // another process held the card past the deadline
inline constexpr int HCL_READER_LIST_MAX = 4096;  // bytes, terminator included
inline constexpr int HCL_ATR_MAX = 64;             // bytes an ATR buffer must hold
inline constexpr int HCL_COMMAND_DATA_MAX = 1019;  // data bytes after the 5-byte header
inline constexpr int HCL_RESPONSE_MAX = 1022;      // response bytes without the status word

// Appends the XML reader list to text, a string in a buffer of
// HCL_READER_LIST_MAX bytes; a list that would not fit is not appended.
// Returns 0 whatever the listing gave.
int HCL_get_readers(char* text);
// HCL_DEVICE_HANDLE, -1 (connection failed, null name) or -2 (no PC/SC
// context). Reopening releases the previous connection and context.
int HCL_open_reader(const char* name);
// *card = the PC/SC card handle; 0, or -1 for a null out.
int HCL_get_card_handle(int handle, SCARDHANDLE* card);
// 1 when a card is present, else 0 (also for an unknown handle and when the
// status cannot be read).
int HCL_card_present(int handle);
// 0, 1 (card removed or reader unavailable) or a PC/SC error; atr holds
// HCL_ATR_MAX bytes. Null outputs are skipped.
int HCL_get_card_status(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len);
// 0 (status word 0x9000), -1 status failed or null pointer, -2 card
// absent, -3 card not powered. atr holds HCL_ATR_MAX bytes.
int HCL_card_status(int handle, unsigned char* atr, unsigned int* atr_len, uint16_t* sw);
// HCL_get_card_status or HCL_card_status, then, when the status read
// succeeds, HCL_card_Start_transaction, both within timeout_ms (the begin's
// whole-second deadline): the status call's result, or
// HCL_TRANSACTION_NOT_GRANTED when the status read did not answer in time.
// *started is the begin's result (0: held, to be ended by the caller; 2;
// -99), or -1 when no begin was made.
int HCL_get_card_status_then_start_transaction(int handle, int timeout_ms, int* started, int* powered, int* absent,
                                               unsigned char* atr, unsigned int* atr_len);
int HCL_card_status_then_start_transaction(int handle, int timeout_ms, int* started, unsigned char* atr,
                                           unsigned int* atr_len, uint16_t* sw);
// One APDU exchange: apdu is a 5-byte header and apdu_len - 5 data bytes
// (at most HCL_COMMAND_DATA_MAX); apdu is not written. On 0 (any status
// word) response receives *response_len bytes and *sw the status word.
// Never more bytes than the APDU's Le asks for (short or extended form; 00
// is 256, 0000 65536; at most HCL_RESPONSE_MAX): a longer answer gives its
// first Le bytes, and an APDU without Le (or of no ISO 7816-4 form) gets
// none, only the status word. -1 when no status word
// came or the APDU was refused (shorter than 5 bytes, too long, null
// pointers); the outputs are then left as they were.
int HCL_card_command_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                           unsigned int* response_len, uint16_t* sw);
// 0, 2 (time-out; whole-second deadline) or -99 (card removed).
int HCL_card_Start_transaction(int handle, int timeout_ms);
// The PC/SC result.
int HCL_card_End_transaction(int handle);
// Ends, when it goes out of scope, a transaction begun by one of the two
// status-then-start calls (started == 0).
class HclStartedTransaction {
public:
    HclStartedTransaction(int handle, int started) noexcept : handle_(handle), held_(started == 0) {}
    ~HclStartedTransaction() {
        if (held_) HCL_card_End_transaction(handle_);
    }
    HclStartedTransaction(const HclStartedTransaction&) = delete;
    HclStartedTransaction& operator=(const HclStartedTransaction&) = delete;

private:
    int handle_;
    bool held_;
};

// SLE4418 memory read of length & 0xFF bytes (300 reads 44): 0 or the
// library's result, 9999 when not possible (reader name without "Cherry"
// or "OMNIKEY", or no library), -1 for a null buffer.
int HCL_sync_card_read(int handle, unsigned char* buffer, uint16_t address, uint16_t length, int unused);
// Loads a secure-PIN-entry reader library by file name or path: 0 or -1.
int HCL_load_spe_reader_dll(const char* name);
// *running = 1 when a process of that name runs, else 0; returns 0 (-1 for
// a null out).
int HCL_service_running(const char* name, int* running);
void HCL_sleep(int milliseconds);
// In a forked child, before its first call: drops the inherited connection
// and begin attempts (plain stores: they may have been mid-change at the
// fork) and marks the reader to be opened again on the next call.
void HCL_forget_inherited() noexcept;
// False while no PC/SC call may be made: once the process exits, and in a
// forked child whose first PC/SC use has not answered yet.
bool HCL_pcsc_usable();
// True when a process named name runs (the answer is only traced by callers).
bool IsServiceRunning(const char* name);

#endif
