#ifndef KIT_PLATFORM_SLEEP_H
#define KIT_PLATFORM_SLEEP_H

namespace kit::platform {

// Waits this many milliseconds (0 or less returns at once); resumes after signals.
void sleep_ms(int milliseconds);

// Tests that must see the pauses install an observer: it is told of each
// pause before the pause is taken. None (the default) observes nothing.
using SleepObserver = void (*)(int milliseconds);
void set_sleep_observer(SleepObserver observer);

}  // namespace kit::platform

#endif
