// Cost of the trace calls the other libraries make on every step: a line
// below the level filter, a full line to a log file, a hex dump.
#include "orvel.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>

namespace {

// A private directory for the log files of one benchmark run.
class LogDir {
public:
    LogDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvel-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~LogDir() {
        __closetracefile();
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    LogDir(const LogDir&) = delete;
    LogDir& operator=(const LogDir&) = delete;
    bool ok() const { return !path_.empty(); }
    std::string file(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void FilteredTracef(benchmark::State& state) {
    __settracelevel(ORVEL_DEBUG);
    __settraceopts(0xFF);
    int i = 0;
    for (auto _ : state) {
        __tracef(ORVEL_FULL, __func__, __FILE__, __LINE__, "filtered %d %s", ++i, "text");
    }
}
BENCHMARK(FilteredTracef);

void FullLineToFile(benchmark::State& state) {
    const LogDir dir;
    if (!dir.ok()) return state.SkipWithError("no temporary directory");
    __settracelevel(ORVEL_DEBUG);
    __settraceopts(0xFF);
    __settracefile(dir.file("line.log").c_str());
    int i = 0;
    for (auto _ : state) {
        __tracef(ORVEL_ERR, __func__, __FILE__, __LINE__, "reader answered %d with status %04x", ++i, 0x9000);
    }
}
BENCHMARK(FullLineToFile);

void HexDump256(benchmark::State& state) {
    const LogDir dir;
    if (!dir.ok()) return state.SkipWithError("no temporary directory");
    __settracelevel(ORVEL_DEBUG);
    __settraceopts(0xFF);
    __settracefile(dir.file("dump.log").c_str());
    std::array<unsigned char, 256> bytes{};
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    for (auto _ : state) {
        __xdump(ORVEL_DEBUG, __func__, __FILE__, __LINE__, bytes.data(), bytes.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(HexDump256);

}  // namespace

BENCHMARK_MAIN();
