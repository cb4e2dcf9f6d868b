// Feeds arbitrary files to the INI reader: values of a few keys into small
// destinations, the section list and the lines of the first section. The
// destinations are heap blocks of their declared size, so a write past them
// is caught; every list is freed (leaks are reported).
#include "tarvik/engine/ini_reader.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// One scratch file per process, removed at exit. The name is a plain array:
// a static string, whose destructor is registered after the exit handler,
// would be gone when the handler runs, and the file would stay.
const std::string& scratch_file() {
    static char pattern[] = "/tmp/ini-fuzz-XXXXXX";
    static const std::string name = [] {
        const int fd = mkstemp(pattern);
        if (fd >= 0) {
            close(fd);
            std::atexit([] { std::remove(pattern); });
        }
        return std::string(pattern);
    }();
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& name = scratch_file();
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<char> small(8), large(64);
    int flag = 0, number = 0;
    char* copy = nullptr;
    const IniRequest requests[] = {{"name", "%s", small.data(), small.size(), INI_UNESCAPE},
                                   {"lib", "%s", large.data(), large.size(), 0},
                                   {"on", "%B", &flag, sizeof flag, 0},
                                   {"n", "%d", &number, sizeof number, 0},
                                   {"s", "%S", &copy, sizeof copy, 0}};
    for (const char* section : {static_cast<const char*>(nullptr), "reader0"}) {
        const int rc = ini_get_values(name.c_str(), section, requests);
        if (rc < -1 || rc > 1000) __builtin_trap();
        std::free(copy);
        copy = nullptr;
    }

    char** sections = nullptr;
    const int count = ini_get_sections(name.c_str(), &sections);
    if (count > 0) {
        char** lines = nullptr;
        const int n = ini_get_section_lines(name.c_str(), sections[0], &lines, INI_UNESCAPE);
        if (n > 0) ini_free_list(lines, n);
        ini_free_list(sections, count);
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<char> out(16);
    ini_unescape(out.data(), out.size(), text.c_str());
    return 0;
}
