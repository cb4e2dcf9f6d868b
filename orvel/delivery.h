// How a line or hex dump reaches the output, all under the trace lock: the
// hook's phase 1, the bytes, the hook's phase 2. A file or descriptor with
// the default writer gets the bytes in one write() after the rotation
// check; a host's writer gets each piece. So lines reach a writer whole, one
// thread at a time, in order, and never after the call that replaced the
// writer has returned.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace orvel {

// The bytes of a line or of a whole dump, and where each piece ends.
struct Pieces {
    std::string_view bytes;
    std::span<const std::size_t> ends;
};

// Lock held. Writes the entry, written with these options, to the current
// output: the writer (none: only the hook runs) and the hook around it.
void deliver(unsigned options, Pieces pieces);

}  // namespace orvel
