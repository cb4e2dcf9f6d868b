#include "tarvik/reader/card_turns.h"

#include "platform/library_lock.h"
#include "platform/sleep.h"

namespace tarvik::reader {

namespace {

using Clock = std::chrono::steady_clock;

// The run of holds that ends with the last end: when it began, when it
// ended and in which call.
bool g_held_before = false;
Clock::time_point g_run_began;
Clock::time_point g_let_go;
unsigned long g_let_go_in_call = 0;

}  // namespace

void leave_card_free_if_held_long() {
    const Clock::time_point now = Clock::now();
    const auto free_for = now - g_let_go;
    if (!g_held_before || free_for >= kLeftFree) {
        g_held_before = true;
        g_run_began = now;
        return;
    }
    if (kit::library_call_number() == g_let_go_in_call || now - g_run_began < kHeldOnEnd) return;
    kit::platform::sleep_ms(
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kLeftFree - free_for).count()));
    g_run_began = Clock::now();
}

void note_card_let_go() {
    g_let_go = Clock::now();
    g_let_go_in_call = kit::library_call_number();
}

}  // namespace tarvik::reader
