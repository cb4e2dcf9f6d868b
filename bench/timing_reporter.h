// Console output of Google Benchmark that also keeps each benchmark's time,
// so a benchmark program can print ratios between its runs.
#ifndef BENCH_TIMING_REPORTER_H
#define BENCH_TIMING_REPORTER_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class TimingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (!run.error_occurred && run.iterations > 0) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    // Time of the first benchmark whose name begins with prefix; 0 when none ran.
    double time_of(const std::string& prefix) const {
        for (const auto& [name, time] : times_)
            if (name.rfind(prefix, 0) == 0) return time;
        return 0.0;
    }

private:
    std::map<std::string, double> times_;
};

#endif
