#include "tarvik/reader/begin_waiter.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "tarvik/reader/pcsc_result.h"

namespace tarvik::reader {

class BeginAttempt {
public:
    explicit BeginAttempt(SCARDHANDLE handle) : card(handle) {}
    const SCARDHANDLE card;
    // Guarded by the waiter's mutex.
    bool finished = false;
    bool abandoned = false;
    int32_t result = 0;
};

namespace {

class Waiter {
public:
    // In a child: the waiters of the processes it descends from, never used
    // again but kept reachable, so that leak checkers do not count them lost.
    Waiter* inherited = nullptr;

    std::shared_ptr<BeginAttempt> start(SCARDHANDLE card) {
        std::unique_lock lock(mutex_);
        ensure_thread();
        for (auto& pending : queue_)
            if (pending->card == card && pending->abandoned) return adopt(pending);
        if (running_ && running_->card == card && running_->abandoned) return adopt(running_);
        auto attempt = std::make_shared<BeginAttempt>(card);
        queue_.push_back(attempt);
        // Woken after the unlock, the waiter does not block on the mutex at once.
        lock.unlock();
        wake_.notify_one();
        return attempt;
    }

    bool wait_for(BeginAttempt& attempt, std::chrono::milliseconds wait, int32_t* result) {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, wait, [&] { return attempt.finished; })) return false;
        *result = attempt.result;
        return true;
    }

    void abandon(BeginAttempt& attempt) {
        std::unique_lock lock(mutex_);
        attempt.abandoned = true;
        if (attempt.finished && attempt.result == kSuccess) SCardEndTransaction(attempt.card, SCARD_LEAVE_CARD);
    }

private:
    // Only an attempt nobody waits for any more: each caller owns its grant.
    std::shared_ptr<BeginAttempt> adopt(const std::shared_ptr<BeginAttempt>& attempt) {
        attempt->abandoned = false;
        return attempt;
    }

    void ensure_thread() {
        if (thread_started_) return;
        thread_started_ = true;
        std::thread([this] { serve(); }).detach();
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.empty(); });
            auto attempt = queue_.front();
            queue_.pop_front();
            if (attempt->abandoned) {  // given up before it began
                attempt->result = narrow(SCARD_E_CANCELLED);
                attempt->finished = true;
                notify_finished(lock);
                continue;
            }
            running_ = attempt;
            lock.unlock();
            const int32_t result = narrow(SCardBeginTransaction(attempt->card));
            lock.lock();
            running_.reset();
            attempt->result = result;
            attempt->finished = true;
            if (attempt->abandoned && result == kSuccess) SCardEndTransaction(attempt->card, SCARD_LEAVE_CARD);
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

std::shared_ptr<BeginAttempt> start_begin(SCARDHANDLE card) { return waiter().start(card); }

bool wait_for_begin(BeginAttempt& attempt, std::chrono::milliseconds wait, int32_t* result) {
    return waiter().wait_for(attempt, wait, result);
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
