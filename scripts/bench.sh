#!/usr/bin/env bash
# Runs every benchmark executable of the build (named *_bench in build/bin) and the comparisons
# with other programs, then gathers the FIGURE lines they print into one table
# (scripts/bench_table.py): our figure, the baseline's, the ratio, the goal and whether it is met.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
benches=(build/bin/*_bench)
if [ ${#benches[@]} -eq 0 ]; then
  echo "bench: no benchmarks built yet"
  exit 0
fi
output=$(mktemp)
trap 'rm -f "$output"' EXIT
# Twenty-five short repetitions of each benchmark, those of one program shuffled together: a
# figure takes the fastest (bench/ratio_reporter.hpp), the one that other work on a shared machine
# disturbed least, and the two sides of a ratio meet that work in the same stretches of time.
for bench in "${benches[@]}"; do
  echo "== ${bench##*/}"
  "$bench" --benchmark_min_time=0.02 --benchmark_repetitions=25 --benchmark_enable_random_interleaving=true |
    tee -a "$output"
done
# The URL parser beside Node.js's URL on the same list, with the ratio.
bench/url_bench_vs_node.sh | tee -a "$output"
# The host as a process: cold start, session throughput and memory, each against a C baseline.
echo "== host_figures"
build/bin/host_figures | tee -a "$output"
# The host as shipped (stripped, with the URL library's ICU data only) against the host as it was
# built with all of ICU's data, unstripped.
echo "== host size"
if [ -x build/bin/ondrake-native-host-full-icu ]; then
  stripped=$(mktemp)
  strip -o "$stripped" build/bin/ondrake-native-host
  awk -v ours="$(wc -c <"$stripped")" -v full="$(wc -c <build/bin/ondrake-native-host-full-icu)" 'BEGIN {
    printf "FIGURE {\"name\":\"host size: stripped, against unstripped with all ICU data\",\"ours\":%.2f,\"baseline\":%.2f,\"unit\":\"MiB\",\"goal\":\"<= 4\"}\n", ours / 1048576, full / 1048576
  }' | tee -a "$output"
  rm -f "$stripped"
else
  echo "no static host with all ICU data to compare with (ONDRAKE_STATIC_HOST off)"
fi

echo
echo "== every figure"
scripts/bench_table.py "$output"
