#include "fork_handlers.h"

#include "process_ids.h"
#include "trace_state.h"

#include <pthread.h>

namespace orvel {

namespace {

void before_fork() noexcept { TraceLock::hold_for_fork(); }

void in_parent() noexcept { TraceLock::release_in_parent(); }

void in_child() noexcept {
    TraceLock::renew_in_child();
    forget_ids();
}

}  // namespace

bool fork_handlers_registered() noexcept {
    static const bool registered = ::pthread_atfork(before_fork, in_parent, in_child) == 0;
    return registered;
}

namespace {

// Registered at load, so that no line has to do it while a fork may be
// running the handlers.
[[maybe_unused]] const bool registered_at_load = fork_handlers_registered();

}  // namespace

}  // namespace orvel
