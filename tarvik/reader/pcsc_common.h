// The one reader object of the process: a PC/SC context and a shared
// connection to one reader. selvane reads `card` and `reader_name` through
// the object that tarvik_resolve_device hands out, so the field order below
// is shared by both libraries: change it in neither.
//
// Results: PC/SC codes are narrowed to int32_t (negative, compare with the
// SCARD_* constants); -99 card removed; 2 transaction not obtained in time;
// 9999 SLE4418 read not possible (see each method).
// Limits: reader names up to 1023 characters; command data up to
// kMaxCommandData (1019) bytes; responses up to 1024 bytes with the status word.
#ifndef TARVIK_READER_PCSC_COMMON_H
#define TARVIK_READER_PCSC_COMMON_H

#include <PCSC/winscard.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

class SyncOmnikey;

namespace tarvik::reader {
class BeginAttempt;
struct BeginOutcome;
struct StatusCalls;
}  // namespace tarvik::reader

class Pcsc_Common {
public:
    static constexpr int kRemoved = -99;
    static constexpr int kTransactionTimeout = 2;
    static constexpr int kNotBegun = -1;
    static constexpr int kSyncNotSupported = 9999;
    static constexpr int kReaderKindSync = 100;  // name holds "Cherry" or "OMNIKEY"
    static constexpr int kReaderKindAcs = 101;   // name holds "ACS"
    static constexpr std::size_t kReaderNameSize = 1024;
    static constexpr std::size_t kAtrCapacity = 64;
    static constexpr std::size_t kApduBufferSize = 1024;
    static constexpr int kMaxCommandData = 1019;
    static constexpr std::size_t kReaderListMax = 4096;  // caller's text, terminator included

    SCARDCONTEXT context = 0;
    int reader_kind = 0;
    int transaction_held = 0;
    SyncOmnikey* sync_omnikey = nullptr;
    SCARDHANDLE card = 0;
    uint8_t card_absent = 0;
    uint8_t card_powered = 0;
    char reader_name[kReaderNameSize] = {};

    Pcsc_Common() = default;
    Pcsc_Common(const Pcsc_Common&) = delete;
    Pcsc_Common& operator=(const Pcsc_Common&) = delete;
    ~Pcsc_Common();

    // Appends the reader list to text (mode 1: XML, else one name and "\n"
    // per reader). text holds a string in a buffer of kReaderListMax bytes;
    // a list that would not fit is not appended. 1 listed; -1 no readers;
    // SCARD_E_INSUFFICIENT_BUFFER too long; any other PC/SC error as is.
    int getReaders(int mode, char* text);
    // In a forked child: the context and card handle are the parent's, and
    // releasing or using them would end or disturb the parent's connection.
    // Forgets them (and any transaction) without a PC/SC call.
    void forgetConnection() noexcept;
    // The reader's name, terminated, apart from the object: openReader
    // clears reader_name before it copies the name it is given.
    std::array<char, kReaderNameSize> readerNameCopy() const noexcept {
        std::array<char, kReaderNameSize> copy{};
        std::memcpy(copy.data(), reader_name, kReaderNameSize - 1);
        return copy;
    }
    // Releases any previous connection and context, then opens name.
    // 0 on success (also with an empty reader), -1 connection failed or no
    // name, -2 no context. The handle token is the caller's business.
    int openReader(const char* name);
    int32_t connect();
    int32_t reconnect();
    // 0, 1 (card removed or reader unavailable) or a PC/SC error; atr holds
    // at least kAtrCapacity bytes.
    int getStatus(int* powered, int* absent, unsigned char* atr, unsigned int* atr_len);
    // 4418: readSle4418Card with the length cut to 8 bits; other types: 1.
    int readSyncCard(int type, int length, int address, unsigned char* buffer);
    // The library's result, or 9999 (wrong reader kind or no library).
    int readSle4418Card(uint8_t length, int address, unsigned char* buffer);
    // 0, 2 (not obtained before the whole-second deadline), -99 (removed).
    int beginTransaction(int timeout_ms);
    // getStatus, then, when it answers 0, beginTransaction, with one deadline
    // for both: while another process holds the card, pcsc-lite makes a
    // status read wait as long as a begin. Answers getStatus's result, or 2
    // when the status read did not answer in time; *begun is
    // beginTransaction's result, or kNotBegun when no begin was made.
    int statusThenBegin(int timeout_ms, int* begun, int* powered, int* absent, unsigned char* atr,
                        unsigned int* atr_len);
    int32_t endTransaction();
    // One exchange: header (5 bytes) and data_len bytes of data (0 to
    // kMaxCommandData) out; the response without the status word comes back
    // over data, which holds data_capacity bytes. Returns the status word
    // (0x6000 and above), -99, or an error below 4096 (a refused length,
    // a response without a status word or longer than the buffer it was
    // received in, a PC/SC error).
    int transmit(const unsigned char* header, int data_len, unsigned char* data, std::size_t data_capacity,
                 unsigned int* response_len, int* sw);

private:
    void releaseConnection();
    int applyStatus(const tarvik::reader::StatusCalls& calls, int* powered, int* absent, unsigned char* atr,
                    unsigned int* atr_len);
    bool awaitAttempt(tarvik::reader::BeginAttempt& attempt, std::time_t deadline,
                      tarvik::reader::BeginOutcome* outcome);
    int grantOrRetry(int32_t result, std::time_t deadline);
    int32_t endOwnTransaction();
    int32_t transmitWithFallback(const unsigned char* command, DWORD command_len, unsigned char* response,
                                 DWORD* response_len);
};

// The reader object behind a device handle, under tarvik's lock; null for
// a handle that tarvik did not hand out (or before a reader was opened).
// For tarvik's own code and tests: the object may change as soon as the
// lock is let go.
extern "C" Pcsc_Common* tarvik_resolve_device(int handle);

// Exported by libtarvik.so for selvane, which binds it by name; no host
// header declares it. Runs task(context, reader) under tarvik's lock, so
// that what the task reads of the reader object, and the calls it makes
// into tarvik on its own thread, are not mixed with another thread's. With
// hold, the card's status is read and the card held against other
// processes first (HCL_get_card_status_then_start_transaction, waiting as
// long as an eID transaction does), and the PC/SC transaction is ended
// after the task. 0 when the task ran; otherwise -100 (unknown handle), the
// status read's failure (1 card removed or reader unavailable, a PC/SC
// error) or the begin's (2 not granted in time, -99 card removed), and
// SCARD_E_NO_SERVICE (narrowed) while no PC/SC call may be made (once the
// process exits). No lock is held once it has returned.
using tarvik_card_task = void (*)(void* context, const Pcsc_Common* reader);
extern "C" int tarvik_with_card(int handle, int hold, tarvik_card_task task, void* context);
using tarvik_with_card_fn = int (*)(int handle, int hold, tarvik_card_task task, void* context);

#endif
