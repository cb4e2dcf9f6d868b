// pcsc-lite keeps a lock of its own for the whole process, taken by every
// call. A fork that comes while another thread holds it leaves it held in
// the child for ever, and the child's every PC/SC call would wait on it. So
// a child's first PC/SC use is tried on a thread of its own first: when that
// does not answer in time, the child's calls answer failure codes instead
// of hanging. Called under the library's lock only.
#ifndef TARVIK_READER_PCSC_IN_CHILD_H
#define TARVIK_READER_PCSC_IN_CHILD_H

namespace tarvik::reader {

// In a forked child, before any PC/SC call: the next use is tried first.
void check_pcsc_before_use() noexcept;
// True unless this is a child whose PC/SC trial has not (yet) answered.
bool pcsc_usable();

}  // namespace tarvik::reader

#endif
