#include "process_ids.h"

#include "fork_handlers.h"

#include <unistd.h>

#include <atomic>

namespace orvel {

namespace {

// 0 = not asked yet. Both are trivially destructible, so lines written from
// exit code still find them.
std::atomic<int> cached_pid{0};
constinit thread_local int cached_tid = 0;

}  // namespace

void forget_ids() noexcept {
    cached_pid.store(0, std::memory_order_relaxed);
    cached_tid = 0;
}

int process_id() noexcept {
    int pid = cached_pid.load(std::memory_order_relaxed);
    if (pid != 0) return pid;
    pid = static_cast<int>(::getpid());
    if (fork_handlers_registered()) cached_pid.store(pid, std::memory_order_relaxed);
    return pid;
}

int thread_id() noexcept {
    if (cached_tid != 0) return cached_tid;
    const int tid = static_cast<int>(::gettid());
    if (fork_handlers_registered()) cached_tid = tid;
    return tid;
}

}  // namespace orvel
