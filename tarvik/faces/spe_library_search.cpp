#include "tarvik/faces/spe_library_search.h"

#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "platform/dynamic_library.h"

namespace {

bool regular_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The absolute directories of PATH, in order (":"-separated, quotes
// dropped). Never the working directory nor a relative entry: a library
// planted there would be loaded, and its constructor run.
std::vector<std::string> search_directories() {
    std::vector<std::string> directories;
    const char* path = std::getenv("PATH");
    std::string entry;
    for (const char* p = path != nullptr ? path : "";; ++p) {
        if (*p == ':' || *p == '\0') {
            if (!entry.empty() && entry.front() == '/') directories.push_back(entry);
            entry.clear();
            if (*p == '\0') break;
        } else if (*p != '"') {
            entry += *p;
        }
    }
    return directories;
}

// A bare name: no folder of its own, no way out of the searched one.
bool plain_name(std::string_view name) {
    return name.find('/') == std::string_view::npos && name.find("..") == std::string_view::npos;
}

}  // namespace

std::string find_spe_library(std::string_view name) {
    if (name.empty() || name.size() > SPE_LIBRARY_NAME_MAX || !plain_name(name)) return {};
    const std::string file = kit::platform::library_file_name(std::string(name) + ".dll");
    for (const auto& directory : search_directories()) {
        const std::string path = directory + "/" + file;
        if (path.size() <= SPE_LIBRARY_PATH_MAX && regular_file(path)) return path;
    }
    return {};
}
