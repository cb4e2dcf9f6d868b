// Whether the kit may call PC/SC at all. Everywhere else it may, but:
// - in a forked child until its first PC/SC use has been tried on a thread
//   of its own and answered: pcsc-lite takes one lock for the whole process
//   in every call, and a fork that comes while another thread holds it
//   leaves it held in the child for ever;
// - once the process exits: exit() runs the libraries' destructors, which
//   free pcsc-lite's own state, while other threads may still be in the kit.
// Meanwhile the kit's calls answer as with no PC/SC service. Called under
// the library's lock only.
#ifndef TARVIK_READER_PCSC_AVAILABILITY_H
#define TARVIK_READER_PCSC_AVAILABILITY_H

namespace tarvik::reader {

// In a forked child, before any PC/SC call: the next use is tried first.
void check_pcsc_before_use() noexcept;
// At load: from the start of exit() on, PC/SC is not used.
void stop_using_pcsc_at_exit() noexcept;
// True unless this is a child whose PC/SC trial has not (yet) answered, or
// the process is exiting.
bool pcsc_usable();
// True once the process exits; safe on any thread.
bool pcsc_exiting() noexcept;

}  // namespace tarvik::reader

#endif
