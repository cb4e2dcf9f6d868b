// kit-rig-wait SECONDS SLOT...: waits until every named reader slot holds a
// usable card (exit 0), or says which did not within SECONDS (exit 1).
#include <cstdio>
#include <cstdlib>

#include "tests/rig/rig_support.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kit-rig-wait SECONDS SLOT...\n");
        return 2;
    }
    const int timeout_ms = std::atoi(argv[1]) * 1000;
    for (int i = 2; i < argc; ++i) {
        if (kit::rig::wait_for_card(argv[i], true, timeout_ms)) continue;
        std::fprintf(stderr, "kit-rig-wait: no card in %s\n", argv[i]);
        return 1;
    }
    return 0;
}
