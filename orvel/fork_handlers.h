// What a fork() does to the trace library, registered once when it is
// loaded: the trace lock is held across the fork, released in the parent
// and made afresh in the child, whose one thread (the one that forked) also
// asks the kernel for its process and thread ids again.
#pragma once

namespace orvel {

// True when the handlers are registered; what a child must forget is kept
// only then.
bool fork_handlers_registered() noexcept;

}  // namespace orvel
