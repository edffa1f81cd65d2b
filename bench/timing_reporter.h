// The console reporter of the benchmarks that print ratios: it prints the
// usual table and keeps each benchmark's times (the median when the run has
// repetitions), so that Finalize can set benchmarks measured side by side in
// one run against each other.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace kovic_bench {

class TimingReporter : public benchmark::ConsoleReporter {
public:
    explicit TimingReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median) {
                times_[run.run_name.str()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            }
        }
    }

protected:
    struct Times {
        double real, cpu;
    };
    // Wall-clock and CPU times by benchmark name ("BM_Name/1920/1080").
    std::map<std::string, Times> times_;
};

}  // namespace kovic_bench
