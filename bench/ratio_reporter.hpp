// The benchmarks' main: Google Benchmark's usual table, then the figures to watch: the ratio of
// chosen pairs of benchmarks measured in the same run (on a shared, noisy machine only such
// ratios are worth comparing from one run to the next), and single timings with an absolute goal.
//
// Every figure is also printed as a FIGURE line (bench/figure_line.hpp) for the table of
// `make bench`.
#pragma once

#include <benchmark/benchmark.h>

#include "bench/figure_line.hpp"

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ondrake::bench {

struct Figure {
    std::string what;
    std::string measured;  // benchmark names, as printed in the table
    std::string baseline;  // empty: an absolute figure, judged on `measured` alone
    std::string goal;      // as in the FIGURE line; empty when the figure has none
};

class FigureReporter : public benchmark::ConsoleReporter {
public:
    explicit FigureReporter(std::vector<Figure> figures) : figures_(std::move(figures)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) ns_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Figure& figure : figures_) {
            auto a = ns_.find(figure.measured);
            if (a == ns_.end()) continue;
            if (figure.baseline.empty()) {
                std::printf("%s: %.0f ns\n", figure.what.c_str(), a->second);
                print_figure_line(figure.what, a->second, std::nullopt, "ns", figure.goal);
                continue;
            }
            auto b = ns_.find(figure.baseline);
            if (b == ns_.end() || b->second <= 0) continue;
            std::printf("ratio %s: %.0f ns / %.0f ns = %.2f\n", figure.what.c_str(), a->second, b->second,
                        a->second / b->second);
            print_figure_line(figure.what, a->second, b->second, "ns", figure.goal);
        }
        std::fflush(stdout);
    }

private:
    std::vector<Figure> figures_;
    std::map<std::string, double> ns_;  // CPU time per iteration
};

inline int run_with_figures(int argc, char** argv, std::vector<Figure> figures) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FigureReporter reporter(std::move(figures));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// The earlier names, for benchmarks that only print ratios without goals.
using Ratio = Figure;
inline int run_with_ratios(int argc, char** argv, std::vector<Figure> figures) {
    return run_with_figures(argc, argv, std::move(figures));
}

}  // namespace ondrake::bench
