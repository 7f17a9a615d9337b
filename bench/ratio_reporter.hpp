// The benchmarks' main: Google Benchmark's usual table, then the ratio of chosen pairs of
// benchmarks measured in the same run. On a shared, noisy machine only such ratios are worth
// comparing from one run to the next.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ondrake::bench {

struct Ratio {
    std::string what;
    std::string measured;  // benchmark names, as printed in the table
    std::string baseline;
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) ns_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Ratio& ratio : ratios_) {
            auto a = ns_.find(ratio.measured);
            auto b = ns_.find(ratio.baseline);
            if (a == ns_.end() || b == ns_.end() || b->second <= 0) continue;
            std::printf("ratio %s: %.0f ns / %.0f ns = %.2f\n", ratio.what.c_str(), a->second, b->second,
                        a->second / b->second);
        }
    }

private:
    std::vector<Ratio> ratios_;
    std::map<std::string, double> ns_;  // CPU time per iteration
};

inline int run_with_ratios(int argc, char** argv, std::vector<Ratio> ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace ondrake::bench
