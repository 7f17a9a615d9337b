#!/usr/bin/env bash
# Our URL parser beside Node.js's URL on the same list (bench/data/urls.txt), in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=build/bin/url_bench
if [ ! -x "$bench" ] || ! command -v node >/dev/null 2>&1; then
  echo "url bench vs node: needs $bench and node; skipped"
  exit 0
fi
ours_json=$("$bench" --benchmark_filter='^BM_ParseUrlList$' --benchmark_min_time=0.3 --benchmark_repetitions=7 \
  --benchmark_format=json 2>/dev/null)
node_json=$(node bench/url_bench_node.js --json)
node -e '
  // Best of the repetitions on both sides: the least disturbed run of a shared machine.
  const runs = JSON.parse(process.argv[1]).benchmarks.filter((b) => b.run_type === "iteration");
  const oursNs = Math.min(...runs.map((b) => b.per_url)) * 1e9;
  const theirs = JSON.parse(process.argv[2]);
  console.log(`url parse, ${theirs.urls} URLs: whatwg-url ${oursNs.toFixed(1)} ns/URL, node ${theirs.node} URL ` +
              `${theirs.ns_per_url.toFixed(1)} ns/URL (best of ${runs.length} and 7 runs), ratio node/ours ` +
              `${(theirs.ns_per_url / oursNs).toFixed(2)}`);
  // The machine-readable line that scripts/bench_table.py gathers (see bench/ratio_reporter.hpp).
  console.log("FIGURE " + JSON.stringify({ name: `URL parse, ${theirs.urls} URLs: whatwg-url / node ${theirs.node} URL`,
    ours: oursNs, baseline: theirs.ns_per_url, unit: "ns", goal: "ratio < 1.0" }));
' "$ours_json" "$node_json"
