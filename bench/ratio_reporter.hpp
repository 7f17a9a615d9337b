// The benchmarks' main: Google Benchmark's usual table, then the figures to watch: the ratio of
// chosen pairs of benchmarks measured in the same run (on a shared, noisy machine only such
// ratios are worth comparing from one run to the next), and single timings with an absolute goal.
//
// Every figure is also printed as one machine-readable line, which scripts/bench_table.py
// gathers from all benchmarks into one table:
//   FIGURE {"name":"...","ours":812.3,"baseline":1020.1,"unit":"ns","goal":"ratio <= 1.0"}
// "baseline" is null for a figure without one; "goal" is "ratio OP X" (ours / baseline),
// "OP X" (ours itself, in its unit) or empty; OP is one of <, <=, >, >=.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ondrake::bench {

struct Figure {
    std::string what;
    std::string measured;  // benchmark names, as printed in the table
    std::string baseline;  // empty: an absolute figure, judged on `measured` alone
    std::string goal;      // as in the FIGURE line; empty when the figure has none
};

// Names and goals are our own constants: only the two characters JSON requires are escaped.
inline std::string json_quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

inline void print_figure(std::string_view name, double ours, std::optional<double> baseline,
                         std::string_view unit, std::string_view goal) {
    std::string baseline_text = baseline ? std::to_string(*baseline) : "null";
    std::printf("FIGURE {\"name\":%s,\"ours\":%f,\"baseline\":%s,\"unit\":%s,\"goal\":%s}\n",
                json_quoted(name).c_str(), ours, baseline_text.c_str(), json_quoted(unit).c_str(),
                json_quoted(goal).c_str());
}

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
                print_figure(figure.what, a->second, std::nullopt, "ns", figure.goal);
                continue;
            }
            auto b = ns_.find(figure.baseline);
            if (b == ns_.end() || b->second <= 0) continue;
            std::printf("ratio %s: %.0f ns / %.0f ns = %.2f\n", figure.what.c_str(), a->second, b->second,
                        a->second / b->second);
            print_figure(figure.what, a->second, b->second, "ns", figure.goal);
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
