// The PC/SC calls of one card-status read, kept apart from the reader
// object so that they can also run on the begin waiter's thread: while
// another process holds the card, pcsc-lite makes each of them wait.
#ifndef TARVIK_READER_STATUS_READ_H
#define TARVIK_READER_STATUS_READ_H

#include <PCSC/winscard.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvik::reader {

inline constexpr std::size_t kStatusAtrCapacity = 64;
inline constexpr std::size_t kStatusNameSize = 1024;

struct StatusCalls {
    // Connect when there is no connection yet; else a status read, and a
    // reconnect when it failed.
    int32_t first = 0;
    SCARDHANDLE connected = 0;  // the handle a successful connect made
    // The status read after a successful first step, and what it gave.
    int32_t again = 0;
    DWORD state = 0;
    DWORD atr_len = kStatusAtrCapacity;
    std::array<unsigned char, kStatusAtrCapacity> atr{};
    // PC/SC's own name for the reader, from the last successful read.
    bool named = false;
    std::array<char, kStatusNameSize> name{};

    SCARDHANDLE card_after(SCARDHANDLE card) const { return connected != 0 ? connected : card; }
};

// A shared connection (T=0 or T=1) to the reader, and the reconnect that
// resets the card; the PC/SC results, narrowed.
int32_t connect_card(SCARDCONTEXT context, const char* reader_name, SCARDHANDLE* card);
int32_t reconnect_card(SCARDHANDLE card);

// Touches nothing but PC/SC and the result. reader_name is used to connect
// when card is 0.
StatusCalls make_status_calls(SCARDCONTEXT context, SCARDHANDLE card, const char* reader_name);

}  // namespace tarvik::reader

#endif
