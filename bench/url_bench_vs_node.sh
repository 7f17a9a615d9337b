#!/usr/bin/env bash
# Our URL parser beside Node.js's URL on the same list (bench/data/urls.txt), in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=build/bin/url_bench
if [ ! -x "$bench" ] || ! command -v node >/dev/null 2>&1; then
  echo "url bench vs node: needs $bench and node; skipped"
  exit 0
fi
ours_json=$("$bench" --benchmark_filter='^BM_ParseUrlList$' --benchmark_min_time=0.5 --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null)
node_json=$(node bench/url_bench_node.js --json)
node -e '
  const ours = JSON.parse(process.argv[1]).benchmarks.find((b) => b.aggregate_name === "min" || b.aggregate_name === "median");
  const theirs = JSON.parse(process.argv[2]);
  const oursNs = ours.ns_per_url;  // the counter is already in ns (count / 1e9, inverted rate)
  console.log(`url parse, ${theirs.urls} URLs: whatwg-url ${oursNs.toFixed(1)} ns/URL (${ours.aggregate_name}), ` +
              `node ${theirs.node} URL ${theirs.ns_per_url.toFixed(1)} ns/URL (best), ratio node/ours ${(theirs.ns_per_url / oursNs).toFixed(2)}`);
' "$ours_json" "$node_json"
