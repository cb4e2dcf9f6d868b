#include "tarvik/reader/pcsc_in_child.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <PCSC/winscard.h>

#include "orvel.h"

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

enum class State { usable, untried, waiting };
State g_state = State::usable;
std::shared_ptr<Trial> g_trial;
// A parent's trial still waiting, kept reachable: its thread is not here.
std::shared_ptr<Trial> g_inherited_trial;

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

}  // namespace

void check_pcsc_before_use() noexcept {
    if (g_trial) g_inherited_trial = std::move(g_trial);
    g_state = State::untried;
}

bool pcsc_usable() {
    if (g_state == State::usable) return true;
    if (g_state == State::untried) {
        g_trial = std::make_shared<Trial>();
        std::thread trial(run_trial, g_trial);
        if (finished_within(*g_trial, kTrialWait)) {
            // Joined, so that no thread is still ending when the child exits.
            trial.join();
            g_state = State::usable;
            return true;
        }
        trial.detach();
        g_state = State::waiting;
        __tracef(ORVEL_DEBUG, "pcsc_usable", __FILE__, __LINE__, "%s",
                 "PC/SC does not answer in this forked child: its lock was held at the fork");
        return false;
    }
    // A trial that answers late was only slow.
    if (!finished_within(*g_trial, std::chrono::milliseconds(0))) return false;
    g_state = State::usable;
    return true;
}

}  // namespace tarvik::reader
