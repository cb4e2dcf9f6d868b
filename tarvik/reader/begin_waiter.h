// pcsc-lite's SCardBeginTransaction does not return while another process
// holds the card, so the reader object's bounded begin hands the call to one
// waiting thread, kept for the process's life, and waits for its answer only
// as long as it wants to. Called under the library's lock only. A forked
// child starts with no attempt and a thread of its own, made when it first
// begins.
#ifndef TARVIK_READER_BEGIN_WAITER_H
#define TARVIK_READER_BEGIN_WAITER_H

#include <chrono>
#include <cstdint>
#include <memory>

#include <PCSC/winscard.h>

namespace tarvik::reader {

// One SCardBeginTransaction on a card handle, made on the waiting thread.
class BeginAttempt;

// Starts a begin on card, or takes over one still waiting on that card that
// an earlier caller gave up.
std::shared_ptr<BeginAttempt> start_begin(SCARDHANDLE card);
// True when the begin returned within wait; its PC/SC result (narrowed) is
// then in *result and belongs to the caller.
bool wait_for_begin(BeginAttempt& attempt, std::chrono::milliseconds wait, int32_t* result);
// The caller no longer wants the begin: a grant, now or later, is ended at
// once unless another begin on the same card takes the attempt over first.
void abandon_begin(BeginAttempt& attempt);
// In a forked child, before its first begin: drops the parent's waiter
// without touching it.
void forget_inherited_begins() noexcept;

}  // namespace tarvik::reader

#endif
