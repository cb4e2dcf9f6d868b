#include "tarvik/faces/log_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* variable_value(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr && name == "USERNAME") value = std::getenv("USER");
    return value;
}

// True when path is a directory that this process could make current;
// checked without changing the current directory.
bool can_enter(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string current_directory() {
    char buffer[LOG_DIRECTORY_SIZE] = {};
    return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace

std::string expand_environment(std::string_view text) {
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        const std::size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) {
            result.append(text.substr(at));
            break;
        }
        result.append(text.substr(at, open - at));
        const std::string name(text.substr(open + 1, close - open - 1));
        const char* value = name.empty() ? nullptr : variable_value(name);
        if (value != nullptr) {
            result.append(value);
            at = close + 1;
        } else {
            // Left as written; the closing '%' may open the next reference.
            result.append(text.substr(open, close - open));
            at = close;
        }
    }
    return result;
}

int getLogDirectory(char* directory) {
    if (directory == nullptr) return -1;
    std::memset(directory, 0, LOG_DIRECTORY_SIZE);
    const std::string app_data = expand_environment("%APPDATA%");
    const std::string chosen =
        app_data.size() < LOG_DIRECTORY_SIZE && can_enter(app_data) ? app_data : current_directory();
    if (chosen.empty() || chosen.size() >= LOG_DIRECTORY_SIZE) return -1;
    std::memcpy(directory, chosen.data(), chosen.size());
    return 0;
}

std::string face_log_directory() {
    char directory[LOG_DIRECTORY_SIZE];
    if (getLogDirectory(directory) != 0 || directory[0] == '\0') return "./";
    return join_bounded(directory, "", LOG_DIRECTORY_SIZE + 1);
}

std::string join_bounded(std::string_view directory, std::string_view name, std::size_t capacity) {
    if (directory.empty()) return {};
    std::string path(directory);
    if (!path.ends_with('/')) path += '/';
    path += name;
    return path.size() < capacity ? path : std::string();
}
