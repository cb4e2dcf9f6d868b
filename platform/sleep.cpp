#include "platform/sleep.h"

#include <cerrno>
#include <ctime>

namespace kit::platform {

void sleep_ms(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace kit::platform
