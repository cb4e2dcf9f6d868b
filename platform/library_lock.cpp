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
// Holds kept past the end of a call, by the thread that holds the lock.
unsigned g_kept = 0;

// The child's one thread may find the lock held by a thread it does not
// have; nothing the lock guards is used before the first call forgets it.
void renew_in_child() noexcept {
    pthread_mutex_t fresh = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
    g_lock = fresh;
    g_kept = 0;
    ++g_generation;
}

[[maybe_unused]] const bool g_registered = pthread_atfork(nullptr, nullptr, renew_in_child) == 0;

}  // namespace

LibraryCall::LibraryCall() noexcept {
    pthread_mutex_lock(&g_lock);
    if (g_generation_seen != g_generation) {
        g_generation_seen = g_generation;
        if (const ForgetInherited forget = g_forget.load(std::memory_order_acquire)) forget();
    }
}

LibraryCall::~LibraryCall() { pthread_mutex_unlock(&g_lock); }

void keep_library_locked() noexcept {
    pthread_mutex_lock(&g_lock);
    ++g_kept;
}

void release_kept_lock() noexcept {
    if (g_kept == 0) return;
    --g_kept;
    pthread_mutex_unlock(&g_lock);
}

void forget_inherited_state_with(ForgetInherited forget) noexcept { g_forget.store(forget, std::memory_order_release); }

}  // namespace kit
