// pcsc-lite's SCardBeginTransaction does not return while another process
// holds the card, nor do the calls of a status read, so the reader object's
// bounded begin hands them to one waiting thread, kept for the process's
// life, and waits for its answer only as long as it wants to. Called under
// the library's lock only. A forked child starts with no attempt and a
// thread of its own, made when it first begins.
#ifndef TARVIK_READER_BEGIN_WAITER_H
#define TARVIK_READER_BEGIN_WAITER_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include <PCSC/winscard.h>

#include "tarvik/reader/status_read.h"

namespace tarvik::reader {

// One SCardBeginTransaction on a card handle, made on the waiting thread,
// and before it, when asked, the calls of a status read.
class BeginAttempt;

// What a finished attempt gave; it belongs to the caller.
struct BeginOutcome {
    // The status read made first, when one was asked for; no begin was
    // made when it failed.
    std::optional<StatusCalls> status;
    bool begun = false;
    int32_t result = 0;  // the begin's PC/SC result (narrowed)
};

// Starts a begin on card, or takes over one still waiting on that card that
// an earlier caller gave up.
std::shared_ptr<BeginAttempt> start_begin(SCARDHANDLE card);
// Starts a status read of the reader (connecting first when card is 0), and
// then a begin on the card it leaves, when the read succeeds.
std::shared_ptr<BeginAttempt> start_status_then_begin(SCARDCONTEXT context, SCARDHANDLE card,
                                                      std::string_view reader_name);
// True when the attempt finished within wait; what it gave is then in
// *outcome.
bool wait_for_begin(BeginAttempt& attempt, std::chrono::milliseconds wait, BeginOutcome* outcome);
// The caller no longer wants the attempt: a grant, now or later, is ended
// at once (and a connection the status read made, closed) unless another
// begin on the same card takes a plain begin over first.
void abandon_begin(BeginAttempt& attempt);
// In a forked child, before its first begin: drops the parent's waiter
// without touching it.
void forget_inherited_begins() noexcept;

}  // namespace tarvik::reader

#endif
