// Parsing a list of realistic URLs (bench/data/urls.txt): long queries, percent-escapes,
// internationalised hosts, IPv4/IPv6 and upper-case input. The counter per_url (CPU seconds per URL)
// is what scripts/bench.sh sets beside Node.js's URL on the same list (bench/url_bench_node.js, also
// CPU time: on a shared machine wall-clock time mostly measures the neighbours).
#include "whatwg-url/url.hpp"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> load_urls() {
    std::vector<std::string> urls;
    std::ifstream file(std::string(ONDRAKE_SOURCE_DIR) + "/bench/data/urls.txt");
    for (std::string line; std::getline(file, line);) {
        if (!line.empty()) urls.push_back(line);
    }
    return urls;
}

const std::vector<std::string>& urls() {
    static const std::vector<std::string> list = load_urls();
    return list;
}

void report_per_url(benchmark::State& state, size_t count) {
    const int64_t urls = state.iterations() * static_cast<int64_t>(count);
    state.SetItemsProcessed(urls);
    state.counters["per_url"] = benchmark::Counter(static_cast<double>(urls),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The host's way: one parser kept for many URLs.
void BM_ParseUrlList(benchmark::State& state) {
    whatwg::Parser parser;
    for (auto _ : state) {
        for (const std::string& url : urls()) {
            auto parsed = parser.parse(url);
            benchmark::DoNotOptimize(parsed);
        }
    }
    report_per_url(state, urls().size());
}
BENCHMARK(BM_ParseUrlList);

// A parser per URL: ICU's IDNA object is opened again for every internationalised host.
void BM_ParseUrlListFreshParser(benchmark::State& state) {
    for (auto _ : state) {
        for (const std::string& url : urls()) {
            auto parsed = whatwg::parse(url);
            benchmark::DoNotOptimize(parsed);
        }
    }
    report_per_url(state, urls().size());
}
BENCHMARK(BM_ParseUrlListFreshParser);

// The same list without the shortcut for canonical input.
void BM_ParseUrlListStateMachineOnly(benchmark::State& state) {
    whatwg::Parser parser;
    for (auto _ : state) {
        for (const std::string& url : urls()) {
            auto parsed = parser.parse_without_shortcut(url);
            benchmark::DoNotOptimize(parsed);
        }
    }
    report_per_url(state, urls().size());
}
BENCHMARK(BM_ParseUrlListStateMachineOnly);

// Canonical URLs only (the list's own serialisations): the shortcut against the state machine.
void BM_CanonicalUrls(benchmark::State& state) {
    whatwg::Parser parser;
    std::vector<std::string> canonical;
    for (const std::string& url : urls()) {
        if (auto parsed = parser.parse(url)) canonical.emplace_back(parsed->href());
    }
    bool shortcut = state.range(0) != 0;
    for (auto _ : state) {
        for (const std::string& url : canonical) {
            auto parsed = shortcut ? parser.parse(url) : parser.parse_without_shortcut(url);
            benchmark::DoNotOptimize(parsed);
        }
    }
    report_per_url(state, canonical.size());
}
BENCHMARK(BM_CanonicalUrls)->Arg(1)->Arg(0)->ArgName("shortcut");

}  // namespace

BENCHMARK_MAIN();
