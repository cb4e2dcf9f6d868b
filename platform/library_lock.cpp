#include "platform/library_lock.h"

#include <pthread.h>

#include <atomic>

namespace kit {

namespace {

pthread_mutex_t g_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
// Counts the forks this process descends from; changed only in the child
// handler, read under the lock.
unsigned g_generation = 0;
unsigned g_generation_seen = 0;
std::atomic<ForgetInherited> g_forget{nullptr};
// Guarded by the lock: how deep the holder is in nested calls, and the
// number of outermost calls so far.
unsigned g_depth = 0;
unsigned long g_calls = 0;

// The child's one thread may find the lock held by a thread it does not
// have; nothing the lock guards is used before the first call forgets it.
void renew_in_child() noexcept {
    pthread_mutex_t fresh = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
    g_lock = fresh;
    g_depth = 0;
    ++g_generation;
}

[[maybe_unused]] const bool g_registered = pthread_atfork(nullptr, nullptr, renew_in_child) == 0;

}  // namespace

LibraryCall::LibraryCall() noexcept {
    pthread_mutex_lock(&g_lock);
    if (g_depth++ == 0) ++g_calls;
    if (g_generation_seen != g_generation) {
        g_generation_seen = g_generation;
        if (const ForgetInherited forget = g_forget.load(std::memory_order_acquire)) forget();
    }
}

LibraryCall::~LibraryCall() {
    --g_depth;
    pthread_mutex_unlock(&g_lock);
}

unsigned long library_call_number() noexcept { return g_calls; }

void forget_inherited_state_with(ForgetInherited forget) noexcept { g_forget.store(forget, std::memory_order_release); }

}  // namespace kit
