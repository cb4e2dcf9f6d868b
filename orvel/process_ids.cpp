#include "process_ids.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace orvel {

namespace {

// 0 = not asked yet. Both are trivially destructible, so lines written from
// exit code still find them.
std::atomic<int> cached_pid{0};
constinit thread_local int cached_tid = 0;

// Runs in a forked child: it has a new process id, and its one thread (the
// one that called fork) a new thread id.
void forget_ids() noexcept {
    cached_pid.store(0, std::memory_order_relaxed);
    cached_tid = 0;
}

// Ids are kept only once a child is sure to forget them.
bool children_forget_ids() noexcept {
    static const bool registered = ::pthread_atfork(nullptr, nullptr, forget_ids) == 0;
    return registered;
}

// Registered at load, so that no line has to do it while a fork may be
// running the handlers.
[[maybe_unused]] const bool registered_at_load = children_forget_ids();

}  // namespace

int process_id() noexcept {
    int pid = cached_pid.load(std::memory_order_relaxed);
    if (pid != 0) return pid;
    pid = static_cast<int>(::getpid());
    if (children_forget_ids()) cached_pid.store(pid, std::memory_order_relaxed);
    return pid;
}

int thread_id() noexcept {
    if (cached_tid != 0) return cached_tid;
    const int tid = static_cast<int>(::gettid());
    if (children_forget_ids()) cached_tid = tid;
    return tid;
}

}  // namespace orvel
