// Minimal trace library used while the real one is written: writes the bare
// message to the chosen file or descriptor.
#include "orvel.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

namespace {
unsigned g_level = 8, g_opts = 0xFF;
int g_fd = -1, g_depth = -1;
}

extern "C" {
EXPORT void __init_trace(void) {}
EXPORT unsigned __gettraceopts(void) { return g_opts; }
EXPORT unsigned __gettracelevel(void) { return g_level; }
EXPORT int __gettracefd(void) { return g_fd; }
EXPORT int __get_call_depth(void) { return g_depth; }
EXPORT int __istraced(unsigned l) { return l <= g_level; }
EXPORT void __settracelevel(unsigned l) { g_level = l; }
EXPORT void __settracelevel_s(const char*) {}
EXPORT void __settraceopts(unsigned o) { g_opts = o; }
EXPORT void __settracer(orvel_writer_fn, int, orvel_hook_fn) {}
EXPORT void __settracetag(const char*) {}
EXPORT void __settracecolor(unsigned, int) {}
EXPORT void __closetracefile(void) { if (g_fd > 2) close(g_fd); g_fd = -1; }
EXPORT void __settracefile(const char* p) {
    __closetracefile();
    if (p) g_fd = open(p, O_WRONLY | O_APPEND | O_CREAT, 0664);
    if (g_fd < 0) fputs("Can't open log file\n", stderr);
}
EXPORT void __settracefd(int fd) { __closetracefile(); g_fd = fd > 0 ? fd : -1; }
EXPORT void __setrotatesize(unsigned) {}
EXPORT void __setrotateinterval(unsigned) {}
EXPORT void __setrotatebacklogs(unsigned) {}
EXPORT void __set_call_depth(int d) { g_depth = d; }
EXPORT void __incr_call_depth(void) {}
EXPORT void __decr_call_depth(void) {}
EXPORT char* __tracev(const char* f, ...) {
    va_list ap; va_start(ap, f); char* s = nullptr;
    if (vasprintf(&s, f, ap) < 0) s = nullptr;
    va_end(ap); return s;
}
EXPORT void __trace(unsigned l, const char*, const char*, int, char* m) {
    if (m && l <= g_level && g_fd >= 0) { dprintf(g_fd, "%s\n", m); }
    free(m);
}
EXPORT void __tracef(unsigned l, const char*, const char*, int, const char* f, ...) {
    if (l > g_level || g_fd < 0) return;
    va_list ap; va_start(ap, f); vdprintf(g_fd, f, ap); va_end(ap); dprintf(g_fd, "\n");
}
EXPORT void __xdump(unsigned l, const char*, const char*, int, const void* d, unsigned n) {
    if (!d || l > g_level || g_fd < 0) return;
    for (unsigned i = 0; i < n; ++i) dprintf(g_fd, "%02x%s", static_cast<const unsigned char*>(d)[i], (i % 16 == 15) ? "\n" : " ");
    dprintf(g_fd, "\n");
}
}
