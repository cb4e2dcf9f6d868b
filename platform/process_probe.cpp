#include "platform/process_probe.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kit::platform {

namespace {

constexpr std::size_t kCommLength = 15;

bool all_digits(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (!std::isdigit(c)) return false;
    return true;
}

}  // namespace

bool process_running(std::string_view name, const std::string& proc_root) {
    if (name.empty()) return false;
    const std::string_view wanted = name.substr(0, kCommLength);
    std::error_code error;
    std::filesystem::directory_iterator it(proc_root, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (!all_digits(it->path().filename().string())) continue;
        std::ifstream comm(it->path() / "comm");
        std::string line;
        if (comm && std::getline(comm, line) && line == wanted) return true;
    }
    return false;
}

}  // namespace kit::platform
