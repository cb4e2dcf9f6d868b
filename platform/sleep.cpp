#include "platform/sleep.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace kit::platform {

namespace {
std::atomic<SleepObserver> g_observer{nullptr};
}  // namespace

void set_sleep_observer(SleepObserver observer) { g_observer.store(observer); }

void sleep_ms(int milliseconds) {
    if (const SleepObserver observer = g_observer.load()) observer(milliseconds);
    if (milliseconds <= 0) return;
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace kit::platform
