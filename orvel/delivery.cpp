#include "delivery.h"

#include "rotation.h"
#include "trace_state.h"

#include <algorithm>

namespace orvel {

namespace {

void call_hook(int phase) {
    if (trace_state.hook != nullptr) trace_state.hook(trace_state.fd.load(std::memory_order_relaxed), phase);
}

// A writer that replaces itself (by __settracer, say) gets no piece once
// that call has returned.
void write_pieces(orvel_writer_fn writer, Pieces pieces) {
    std::size_t start = 0;
    for (const std::size_t end : pieces.ends) {
        if (trace_state.writer != writer) return;
        writer(trace_state.fd.load(std::memory_order_relaxed), pieces.bytes.data() + start,
               static_cast<unsigned>(end - start));
        start = end;
    }
}

// Rotation check, then the bytes with one write() to the descriptor that is
// current after it.
void write_to_file(unsigned options, std::string_view bytes) {
    const RotationHold rotation(options);
    const int fd = trace_state.fd.load(std::memory_order_relaxed);
    if (fd < 0) return;  // the rotated file could not be opened
    // Only a dump of hundreds of megabytes needs more than one call.
    constexpr std::size_t kMaxCall = std::size_t{1} << 30;
    for (std::size_t at = 0; at < bytes.size(); at += kMaxCall) {
        const std::size_t length = std::min(kMaxCall, bytes.size() - at);
        default_writer(fd, bytes.data() + at, static_cast<unsigned>(length));
    }
}

}  // namespace

void deliver(unsigned options, Pieces pieces) {
    call_hook(1);
    const orvel_writer_fn writer = trace_state.writer;
    if (writer == default_writer) {
        if (!pieces.bytes.empty()) write_to_file(options, pieces.bytes);
    } else if (writer != nullptr) {
        write_pieces(writer, pieces);
    }
    call_hook(2);
}

}  // namespace orvel
