#include "tarvik/reader/begin_waiter.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/dynamic_library.h"
#include "tarvik/reader/pcsc_availability.h"
#include "tarvik/reader/pcsc_result.h"

namespace tarvik::reader {

class BeginAttempt {
public:
    explicit BeginAttempt(SCARDHANDLE handle) : card(handle) {}
    const SCARDHANDLE card;
    // For a status read first: what it needs.
    bool with_status = false;
    SCARDCONTEXT context = 0;
    std::array<char, kStatusNameSize> reader_name{};
    // Guarded by the waiter's mutex.
    bool finished = false;
    bool abandoned = false;
    BeginOutcome outcome;
};

namespace {

// The calls of one attempt, made without the waiter's mutex.
BeginOutcome run(const BeginAttempt& attempt) {
    BeginOutcome outcome;
    SCARDHANDLE card = attempt.card;
    if (attempt.with_status) {
        outcome.status = make_status_calls(attempt.context, card, attempt.reader_name.data());
        if (outcome.status->first != kSuccess) return outcome;
        card = outcome.status->card_after(card);
    }
    outcome.begun = true;
    outcome.result = pcsc_exiting() ? narrow(SCARD_E_NO_SERVICE) : narrow(SCardBeginTransaction(card));
    return outcome;
}

// Nobody takes what an abandoned attempt got: the card is let go, and a
// connection its status read made is closed.
void undo(const BeginAttempt& attempt) {
    const BeginOutcome& outcome = attempt.outcome;
    const SCARDHANDLE card = outcome.status ? outcome.status->card_after(attempt.card) : attempt.card;
    if (outcome.begun && outcome.result == kSuccess) SCardEndTransaction(card, SCARD_LEAVE_CARD);
    if (outcome.status && outcome.status->connected != 0) SCardDisconnect(outcome.status->connected, SCARD_LEAVE_CARD);
}

class Waiter {
public:
    // In a child: the waiters of the processes it descends from, never used
    // again but kept reachable, so that leak checkers do not count them lost.
    Waiter* inherited = nullptr;

    std::shared_ptr<BeginAttempt> start(std::shared_ptr<BeginAttempt> attempt) {
        std::unique_lock lock(mutex_);
        ensure_thread();
        if (!attempt->with_status) {
            for (auto& pending : queue_)
                if (adoptable(*pending, attempt->card)) return adopt(pending);
            if (running_ && adoptable(*running_, attempt->card)) return adopt(running_);
        }
        queue_.push_back(attempt);
        // Woken after the unlock, the waiter does not block on the mutex at once.
        lock.unlock();
        wake_.notify_one();
        return attempt;
    }

    bool wait_for(BeginAttempt& attempt, std::chrono::milliseconds wait, BeginOutcome* outcome) {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, wait, [&] { return attempt.finished; })) return false;
        *outcome = attempt.outcome;
        return true;
    }

    void abandon(BeginAttempt& attempt) {
        std::unique_lock lock(mutex_);
        attempt.abandoned = true;
        if (attempt.finished) undo(attempt);
    }

private:
    // Only a plain begin nobody waits for any more: each caller owns its grant.
    static bool adoptable(const BeginAttempt& attempt, SCARDHANDLE card) {
        return attempt.card == card && attempt.abandoned && !attempt.with_status;
    }

    std::shared_ptr<BeginAttempt> adopt(const std::shared_ptr<BeginAttempt>& attempt) {
        attempt->abandoned = false;
        return attempt;
    }

    // The thread runs this library's code for the rest of the process, so
    // the library stays loaded whatever the host unloads.
    void ensure_thread() {
        if (thread_started_) return;
        thread_started_ = true;
        kit::platform::keep_module_loaded(reinterpret_cast<const void*>(&run));
        std::thread([this] { serve(); }).detach();
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.empty(); });
            auto attempt = queue_.front();
            queue_.pop_front();
            if (attempt->abandoned) {  // given up before it began
                attempt->outcome.result = narrow(SCARD_E_CANCELLED);
                attempt->finished = true;
                notify_finished(lock);
                continue;
            }
            running_ = attempt;
            lock.unlock();
            BeginOutcome outcome = run(*attempt);
            lock.lock();
            running_.reset();
            attempt->outcome = std::move(outcome);
            attempt->finished = true;
            if (attempt->abandoned) undo(*attempt);
            notify_finished(lock);
        }
    }

    // Outside the lock, so a woken caller finds the mutex free.
    void notify_finished(std::unique_lock<std::mutex>& lock) {
        lock.unlock();
        done_.notify_all();
        lock.lock();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<BeginAttempt>> queue_;
    std::shared_ptr<BeginAttempt> running_;
    bool thread_started_ = false;
};

// Never destroyed: the thread waits on it until the process ends. Used
// under the library's lock only.
Waiter* g_waiter = nullptr;
Waiter* g_inherited_waiters = nullptr;

Waiter& waiter() {
    if (!g_waiter) g_waiter = new Waiter;
    return *g_waiter;
}

}  // namespace

std::shared_ptr<BeginAttempt> start_begin(SCARDHANDLE card) {
    return waiter().start(std::make_shared<BeginAttempt>(card));
}

std::shared_ptr<BeginAttempt> start_status_then_begin(SCARDCONTEXT context, SCARDHANDLE card,
                                                      std::string_view reader_name) {
    auto attempt = std::make_shared<BeginAttempt>(card);
    attempt->with_status = true;
    attempt->context = context;
    std::memcpy(attempt->reader_name.data(), reader_name.data(),
                std::min(reader_name.size(), attempt->reader_name.size() - 1));
    return waiter().start(std::move(attempt));
}

bool wait_for_begin(BeginAttempt& attempt, std::chrono::milliseconds wait, BeginOutcome* outcome) {
    return waiter().wait_for(attempt, wait, outcome);
}

void abandon_begin(BeginAttempt& attempt) { waiter().abandon(attempt); }

// The parent's waiter may have been mid-change, its mutex held, by a thread
// the child does not have: it is left as it is, never touched again, and
// the child's first begin makes a waiter and a thread of its own.
void forget_inherited_begins() noexcept {
    if (g_waiter == nullptr) return;
    g_waiter->inherited = g_inherited_waiters;
    g_inherited_waiters = g_waiter;
    g_waiter = nullptr;
}

}  // namespace tarvik::reader
