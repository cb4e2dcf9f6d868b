#include "tarvik/reader/pcsc_availability.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <PCSC/winscard.h>

#include "orvel.h"
#include "platform/dynamic_library.h"

namespace tarvik::reader {

namespace {

// Long enough for a loaded machine to start a thread and reach the daemon.
constexpr auto kTrialWait = std::chrono::seconds(2);

// Shared with the trial's thread, which may outlive every wait for it.
struct Trial {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
};

// Set in a child until its first PC/SC use has been tried.
bool g_untried = false;
// A trial that has not answered: PC/SC is not used while there is one.
std::shared_ptr<Trial> g_pending;
// A parent's trial still waiting, kept reachable: its thread is not here.
std::shared_ptr<Trial> g_inherited_trial;
// Read by threads that are not holding the library's lock when exit() sets it.
std::atomic<bool> g_exiting{false};

void mark_exiting() { g_exiting.store(true, std::memory_order_release); }

void run_trial(const std::shared_ptr<Trial>& trial) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) == SCARD_S_SUCCESS)
        SCardReleaseContext(context);
    {
        const std::lock_guard lock(trial->mutex);
        trial->done = true;
    }
    trial->done_changed.notify_all();
}

bool finished_within(Trial& trial, std::chrono::milliseconds wait) {
    std::unique_lock lock(trial.mutex);
    return trial.done_changed.wait_for(lock, wait, [&] { return trial.done; });
}

// The first PC/SC use of a child, on a thread of its own. The thread may
// outlive the wait and run after the host has unloaded the library: the
// library stays loaded from here on.
bool try_pcsc_in_child() {
    kit::platform::keep_module_loaded(reinterpret_cast<const void*>(&run_trial));
    auto trial = std::make_shared<Trial>();
    std::thread thread(run_trial, trial);
    if (finished_within(*trial, kTrialWait)) {
        // Joined, so that no thread is still ending when the child exits.
        thread.join();
        return true;
    }
    thread.detach();
    g_pending = std::move(trial);
    __tracef(ORVEL_DEBUG, "pcsc_usable", __FILE__, __LINE__, "%s",
             "PC/SC does not answer in this forked child: its lock was held at the fork");
    return false;
}

}  // namespace

void check_pcsc_before_use() noexcept {
    if (g_pending) g_inherited_trial = std::move(g_pending);
    g_untried = true;
}

void stop_using_pcsc_at_exit() noexcept { std::atexit(mark_exiting); }

bool pcsc_exiting() noexcept { return g_exiting.load(std::memory_order_acquire); }

bool pcsc_usable() {
    if (pcsc_exiting()) return false;
    if (g_untried) {
        g_untried = false;
        return try_pcsc_in_child();
    }
    // A trial that answers late was only slow.
    if (g_pending && !finished_within(*g_pending, std::chrono::milliseconds(0))) return false;
    g_pending.reset();
    return true;
}

}  // namespace tarvik::reader
