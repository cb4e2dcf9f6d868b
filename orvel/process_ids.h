// The process and thread ids a line shows. The kernel is asked once per
// process and once per thread; a forked child asks again.
#pragma once

namespace orvel {

int process_id() noexcept;
int thread_id() noexcept;

// Run in a forked child: it has a new process id, and its one thread (the
// one that called fork) a new thread id.
void forget_ids() noexcept;

}  // namespace orvel
