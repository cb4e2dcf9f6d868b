#ifndef KIT_PLATFORM_SLEEP_H
#define KIT_PLATFORM_SLEEP_H

namespace kit::platform {

// Waits this many milliseconds (0 or less returns at once); resumes after signals.
void sleep_ms(int milliseconds);

}  // namespace kit::platform

#endif
