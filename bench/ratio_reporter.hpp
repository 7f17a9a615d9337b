// The benchmarks' main: Google Benchmark's usual table, then the figures to watch: the ratio of
// chosen pairs of benchmarks measured in the same run (on a shared, noisy machine only such
// ratios are worth comparing from one run to the next), and single timings with an absolute goal.
// Run with --benchmark_repetitions, a figure takes each benchmark's fastest repetition: what the
// code costs when no other work on the machine disturbed it, and the table shows only the
// aggregates of the repetitions.
//
// Every figure is also printed as a FIGURE line (bench/figure_line.hpp) for the table of
// `make bench`.
#pragma once

#include <benchmark/benchmark.h>

#include "bench/figure_line.hpp"

#include <algorithm>
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
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                auto [fastest, first] = ns_.try_emplace(run.benchmark_name(), run.GetAdjustedCPUTime());
                if (!first) fastest->second = std::min(fastest->second, run.GetAdjustedCPUTime());
            }
            if (run.repetitions <= 1 || run.run_type == Run::RT_Aggregate) shown.push_back(run);
        }
        ConsoleReporter::ReportRuns(shown);
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
    std::map<std::string, double> ns_;  // CPU time per iteration, the fastest repetition's
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
