// How a line or hex dump reaches the output. A file or descriptor with the
// default writer and no hook is written at once under the trace lock (one
// write(), after the rotation check). A host's writer or hook is never
// called with a lock held: the entry joins a queue under the lock, and the
// one thread that found no delivery running delivers the queue in order
// outside the lock. A thread never waits for another thread's writer or
// hook, and a writer that traces on its own thread only queues more lines.
#pragma once

#include "orvel.h"

#include <cstddef>
#include <span>
#include <string_view>

namespace orvel {

// Where an entry goes, as the output was when it was written.
struct Route {
    orvel_writer_fn writer = nullptr;  // null: only the hook runs
    orvel_hook_fn hook = nullptr;
    int fd = -1;
    unsigned options = 0;
};

// The bytes of a line or of a whole dump, and where each piece ends.
struct Pieces {
    std::string_view bytes;
    std::span<const std::size_t> ends;
};

// Lock held. The current output for an entry written with these options.
Route current_route(unsigned options) noexcept;

// Lock held. Writes the entry now when its output is a file or descriptor
// without a hook and no delivery is running; queues a copy of it when another
// thread delivers. True when the caller has become the deliverer: it calls
// deliver_then_drain with the same entry once it has released the lock. May
// throw std::bad_alloc (the entry is then dropped).
bool write_or_queue(const Route& route, Pieces pieces);

// Lock not held. Delivers the caller's entry, then whatever was queued
// meanwhile, until the queue is empty.
void deliver_then_drain(const Route& route, Pieces pieces);

// Lock held. Rotation check, then the bytes with one write() to the current
// descriptor when the current writer is the default writer.
void write_to_output(unsigned options, std::string_view bytes);

// Run in a forked child: the queued entries are the parent's, and the
// thread delivering them does not exist here.
void forget_deliveries() noexcept;

}  // namespace orvel
