#include "tarvik/faces/spe_library_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/dynamic_library.h"

namespace {

bool regular_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> search_directories() {
    std::vector<std::string> directories;
    char cwd[SPE_LIBRARY_PATH_MAX + 1] = {};
    if (::getcwd(cwd, sizeof cwd) != nullptr) directories.emplace_back(cwd);
    const char* path = std::getenv("PATH");
    std::string entry;
    for (const char* p = path != nullptr ? path : "";; ++p) {
        if (*p == ':' || *p == '\0') {
            if (!entry.empty()) directories.push_back(entry);
            entry.clear();
            if (*p == '\0') break;
        } else if (*p != '"') {
            entry += *p;
        }
    }
    return directories;
}

}  // namespace

std::string find_spe_library(std::string_view name) {
    if (name.empty() || name.size() > SPE_LIBRARY_NAME_MAX) return {};
    const std::string file = kit::platform::library_file_name(std::string(name) + ".dll");
    for (const auto& directory : search_directories()) {
        const std::string path = directory + "/" + file;
        if (path.size() <= SPE_LIBRARY_PATH_MAX && regular_file(path)) return path;
    }
    return {};
}
