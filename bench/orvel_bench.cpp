// Cost of the trace calls the other libraries make on every step: a line
// below the level filter, a full line to a log file, a hex dump. After the
// benchmarks, a full line is timed beside a bare write(2) of the same bytes
// to the same kind of file, alternating, and the median ratio is printed.
#include "orvel.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

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

// Side by side: one full trace line against a bare write(2) of its bytes.
// Many short rounds timed in thread CPU time, so that a round in which the
// scheduler ran something else does not move the median.
constexpr int kRounds = 301;
constexpr int kLinesPerRound = 100;

double thread_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void trace_one(int i) {
    // Fixed-width counter: every line has the same length as the written copy.
    __tracef(ORVEL_ERR, "LineBesideWrite", __FILE__, __LINE__, "reader answered %06d with status %04x", i % 1000000,
             0x9000);
}

// Seconds per line of kLinesPerRound trace lines.
double time_trace_lines(int& counter) {
    const double start = thread_seconds();
    for (int n = 0; n < kLinesPerRound; ++n) trace_one(++counter);
    return (thread_seconds() - start) / kLinesPerRound;
}

// Seconds per write of kLinesPerRound bare writes of line.
double time_bare_writes(int fd, const std::string& line) {
    const double start = thread_seconds();
    for (int n = 0; n < kLinesPerRound; ++n) {
        if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 0.0;
    }
    return (thread_seconds() - start) / kLinesPerRound;
}

// Nanoseconds of one call below the level filter, by the same method.
double filtered_call_nanoseconds() {
    constexpr int kCallsPerRound = 100000;
    __settracelevel(ORVEL_DEBUG);
    __settraceopts(0xFF);
    std::vector<double> rounds;
    for (int round = 0; round < kRounds; ++round) {
        const double start = thread_seconds();
        for (int n = 0; n < kCallsPerRound; ++n) {
            __tracef(ORVEL_FULL, "FilteredCall", __FILE__, __LINE__, "filtered %d %s", n, "text");
        }
        rounds.push_back((thread_seconds() - start) / kCallsPerRound * 1e9);
    }
    return median(rounds);
}

struct SideBySide {
    double ratio = 0.0;
    double line_seconds = 0.0;
    double write_seconds = 0.0;
    std::size_t line_bytes = 0;
};

bool line_beside_write(SideBySide& out) {
    const LogDir dir;
    if (!dir.ok()) return false;
    const std::string trace_path = dir.file("line.log");
    const std::string write_path = dir.file("write.log");
    __settracelevel(ORVEL_DEBUG);
    __settraceopts(0xFF);
    __settracefile(trace_path.c_str());
    int counter = 0;
    trace_one(counter);
    std::string line;
    std::getline(std::ifstream(trace_path), line);
    line += '\n';
    // The same kind of file the trace library opens.
    const int fd = ::open(write_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
    if (fd < 0) return false;

    std::vector<double> ratios, lines, writes;
    for (int round = 0; round < kRounds; ++round) {
        double traced = 0.0;
        double written = 0.0;
        // Alternate which goes first so neither always meets a warm or cold cache.
        if (round % 2 == 0) {
            traced = time_trace_lines(counter);
            written = time_bare_writes(fd, line);
        } else {
            written = time_bare_writes(fd, line);
            traced = time_trace_lines(counter);
        }
        if (written <= 0.0) break;
        ratios.push_back(traced / written);
        lines.push_back(traced);
        writes.push_back(written);
    }
    ::close(fd);
    __closetracefile();
    if (ratios.size() != static_cast<std::size_t>(kRounds)) return false;
    out = {median(ratios), median(lines), median(writes), line.size()};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("filtered-out call: %.2f ns (thread CPU time, median of %d rounds)\n", filtered_call_nanoseconds(),
                kRounds);

    SideBySide side;
    if (!line_beside_write(side)) {
        std::fprintf(stderr, "line beside write: no temporary file could be written\n");
        return 1;
    }
    std::printf("line of %zu bytes: %.2f us, bare write: %.2f us (thread CPU time, median of %d rounds of %d)\n", side.line_bytes,
                side.line_seconds * 1e6, side.write_seconds * 1e6, kRounds, kLinesPerRound);
    std::printf("line/write ratio: %.2f\n", side.ratio);
    return 0;
}
