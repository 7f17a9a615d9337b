#!/usr/bin/env node
// Node.js's URL on bench/data/urls.txt: prints the best of several timed rounds in CPU ns per URL
// (the whole process, so the garbage collector's threads count too), each URL parsed with
// `new URL()` and its href read (as the C++ benchmark keeps the href).
//   node url_bench_node.js [--json]
'use strict';

const fs = require('fs');
const path = require('path');

const urls = fs.readFileSync(path.join(__dirname, 'data', 'urls.txt'), 'utf8').split('\n').filter((line) => line);

function round(repeats) {
  let sink = 0;
  const start = process.cpuUsage();
  for (let r = 0; r < repeats; ++r) {
    for (const input of urls) {
      try {
        sink += new URL(input).href.length;
      } catch {
        sink += 1;
      }
    }
  }
  const used = process.cpuUsage(start);
  const elapsed = (used.user + used.system) * 1000;  // microseconds to nanoseconds
  if (sink === 0) console.log('');  // keeps the work observable
  return elapsed / (repeats * urls.length);
}

round(200);  // warm-up: let the JIT settle
let best = Infinity;
for (let i = 0; i < 7; ++i) best = Math.min(best, round(100));

if (process.argv.includes('--json')) {
  console.log(JSON.stringify({ ns_per_url: best, urls: urls.length, node: process.version }));
} else {
  console.log(`node ${process.version} URL: ${best.toFixed(1)} ns/URL over ${urls.length} URLs`);
}
