// Stand-in for the pinpad reader's library. It shows nothing and beeps
// nowhere: it appends one line per call to the file named by
// KIT_PINPAD_RECORD (when set) and answers KIT_PINPAD_RESULT (default 0).
#include "selvane/pinpad_interface.h"

#include <cstdio>
#include <cstdlib>

#include "standins/standin_export.h"

namespace {

int32_t result() {
    const char* text = std::getenv("KIT_PINPAD_RESULT");
    return text ? static_cast<int32_t>(std::strtol(text, nullptr, 0)) : 0;
}

void record(const char* line) {
    const char* path = std::getenv("KIT_PINPAD_RECORD");
    if (!path) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fputs(line, f);
        std::fclose(f);
    }
}

}  // namespace

#ifndef STANDIN_WITHOUT_ekryptobeid_display_message
STANDIN_EXPORT int32_t ekryptobeid_display_message(SCARDHANDLE card, int32_t a, int32_t b, const char* text) {
    char line[1200];
    std::snprintf(line, sizeof line, "message card=%lu a=%d b=%d text=%.1024s\n", static_cast<unsigned long>(card), a,
                  b, text ? text : "(null)");
    record(line);
    return result();
}
#endif

#ifndef STANDIN_WITHOUT_ekryptobeid_beep
STANDIN_EXPORT int32_t ekryptobeid_beep(SCARDHANDLE card, int32_t a) {
    char line[128];
    std::snprintf(line, sizeof line, "beep card=%lu a=%d\n", static_cast<unsigned long>(card), a);
    record(line);
    return result();
}
#endif
