// What a stand-in tells the tests: one line per call appended to the file
// that an environment variable names (nothing when it is unset).
#ifndef KIT_STANDINS_CALL_RECORD_H
#define KIT_STANDINS_CALL_RECORD_H

#include <cstdio>
#include <cstdlib>
#include <string>

[[maybe_unused]] static void append_call_record(const char* variable, const std::string& line) {
    const char* path = std::getenv(variable);
    if (!path) return;
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

#endif
