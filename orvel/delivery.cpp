#include "delivery.h"

#include "rotation.h"
#include "trace_state.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace orvel {

namespace {

struct Parcel {
    Route route;
    std::string bytes;
    std::vector<std::size_t> ends;
    Parcel* next = nullptr;

    Pieces pieces() const noexcept { return {bytes, ends}; }
};

// Guarded by the trace lock. Plain pointers, so that lines written from
// exit code never meet a destroyed queue.
constinit Parcel* queue_head = nullptr;
constinit Parcel** queue_tail = &queue_head;
constinit std::size_t queued_bytes = 0;
constinit bool delivering = false;

// Threads that trace faster than one writer takes their lines never wait
// for it; what they queue is bounded instead.
constexpr std::size_t kMaxQueuedBytes = std::size_t{4} << 20;

std::unique_ptr<Parcel> copy_of(const Route& route, Pieces pieces) {
    auto parcel = std::make_unique<Parcel>();
    parcel->route = route;
    parcel->bytes.assign(pieces.bytes);
    parcel->ends.assign(pieces.ends.begin(), pieces.ends.end());
    return parcel;
}

void push(std::unique_ptr<Parcel> parcel) noexcept {
    queued_bytes += parcel->bytes.size();
    *queue_tail = parcel.release();
    queue_tail = &(*queue_tail)->next;
}

// The parcels taken from the queue at once, first to last; those not
// delivered yet are freed with it.
class Batch {
public:
    Batch() noexcept = default;
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    ~Batch() {
        while (head_ != nullptr) next();
    }

    // Lock held. Empties the queue into the batch.
    void take_queue() noexcept {
        head_ = queue_head;
        queue_head = nullptr;
        queue_tail = &queue_head;
        queued_bytes = 0;
    }
    bool empty() const noexcept { return head_ == nullptr; }
    std::unique_ptr<Parcel> next() noexcept {
        std::unique_ptr<Parcel> first(head_);
        head_ = first->next;
        return first;
    }

private:
    Parcel* head_ = nullptr;
};

void write_pieces(const Route& route, Pieces pieces) {
    std::size_t start = 0;
    for (const std::size_t end : pieces.ends) {
        route.writer(route.fd, pieces.bytes.data() + start, static_cast<unsigned>(end - start));
        start = end;
    }
}

// Lock not held. The file output is written under the lock, to the
// descriptor that is current then: the one the entry saw may have been
// closed and its number reused since.
void deliver(const Route& route, Pieces pieces) {
    if (route.hook != nullptr) route.hook(route.fd, 1);
    if (route.writer == default_writer) {
        const TraceLock lock;
        write_to_output(route.options, pieces.bytes);
    } else if (route.writer != nullptr) {
        write_pieces(route, pieces);
    }
    if (route.hook != nullptr) route.hook(route.fd, 2);
}

// One thread's turn at delivering. It ends when the queue is found empty,
// or, should a host's writer or hook throw, when the exception leaves.
class DeliveryTurn {
public:
    DeliveryTurn() noexcept = default;
    DeliveryTurn(const DeliveryTurn&) = delete;
    DeliveryTurn& operator=(const DeliveryTurn&) = delete;
    ~DeliveryTurn() {
        if (ended_) return;
        const TraceLock lock;
        delivering = false;
    }

    // Everything queued so far, in one hold of the lock (so the deliverer
    // keeps up with threads that queue); empty when the turn has ended.
    void take(Batch& batch) noexcept {
        const TraceLock lock;
        batch.take_queue();
        if (!batch.empty()) return;
        delivering = false;
        ended_ = true;
    }

private:
    bool ended_ = false;
};

}  // namespace

Route current_route(unsigned options) noexcept {
    return {trace_state.writer, trace_state.hook, trace_state.fd.load(std::memory_order_relaxed), options};
}

bool write_or_queue(const Route& route, Pieces pieces) {
    if (route.writer == nullptr && route.hook == nullptr) return false;
    if (!delivering && route.writer == default_writer && route.hook == nullptr) {
        write_to_output(route.options, pieces.bytes);
        return false;
    }
    if (delivering) {
        if (queued_bytes < kMaxQueuedBytes) push(copy_of(route, pieces));
        return false;
    }
    delivering = true;
    return true;
}

void deliver_then_drain(const Route& route, Pieces pieces) {
    DeliveryTurn turn;
    deliver(route, pieces);
    for (;;) {
        Batch batch;
        turn.take(batch);
        if (batch.empty()) return;
        while (!batch.empty()) {
            const std::unique_ptr<Parcel> parcel = batch.next();
            deliver(parcel->route, parcel->pieces());
        }
    }
}

void write_to_output(unsigned options, std::string_view bytes) {
    if (trace_state.writer != default_writer) return;
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

void forget_deliveries() noexcept {
    Batch parents;
    parents.take_queue();
    delivering = false;
}

}  // namespace orvel
