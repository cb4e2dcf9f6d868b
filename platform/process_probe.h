// Stand-in for the service manager: a "service" runs when a process of
// that name runs.
#ifndef KIT_PLATFORM_PROCESS_PROBE_H
#define KIT_PLATFORM_PROCESS_PROBE_H

#include <string>
#include <string_view>

namespace kit::platform {

// True when some /proc/<pid>/comm equals name. comm holds at most 15
// characters, so a longer name is compared by its first 15.
bool process_running(std::string_view name, const std::string& proc_root = "/proc");

}  // namespace kit::platform

#endif
