#!/usr/bin/env node
// Differential test of url-parse against Node.js's URL: both parse the same lines without a base
// (the web-platform-tests inputs and seeded mutations of them) and every line on which their
// hrefs differ is printed with the reason it is known for, if any. Exit status 0 when every
// disagreement has a known reason, 1 otherwise.
//
//   node differential.js [--url-parse PATH] [--wpt DIR] [--mutations N] [--seed S] [--sample N]
//                        [--files urltestdata.json,toascii.json,IdnaTestV2.json]
// The IDNA files hold characters whose UTS #46 status changed between Unicode versions, where ICU's
// and ada's tables may disagree; --files leaves them out where only the parser itself is of interest.
'use strict';

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');

const repoRoot = path.resolve(__dirname, '..', '..');

function parseArguments(argv) {
  const options = {
    urlParse: path.join(repoRoot, 'build', 'bin', 'url-parse'),
    wpt: path.join(__dirname, '..', 'tests', 'data', 'wpt'),
    mutations: 3000,
    seed: 1,
    sample: 0,
    files: ['urltestdata.json', 'toascii.json', 'IdnaTestV2.json'],
  };
  for (let i = 2; i < argv.length; i += 2) {
    const value = argv[i + 1];
    switch (argv[i]) {
      case '--url-parse': options.urlParse = value; break;
      case '--wpt': options.wpt = value; break;
      case '--mutations': options.mutations = Number(value); break;
      case '--seed': options.seed = Number(value); break;
      case '--sample': options.sample = Number(value); break;
      case '--files': options.files = value.split(','); break;
      default: throw new Error(`unknown option ${argv[i]}`);
    }
  }
  return options;
}

// mulberry32: a small seeded generator, so that a seed always gives the same mutations.
function makeRandom(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

function loadCases(dir, file) {
  const text = fs.readFileSync(path.join(dir, file), 'utf8');
  return JSON.parse(text).filter((item) => typeof item === 'object');
}

// The inputs the web-platform-tests give, written as absolute URLs the way wpt's runners write them.
function wptInputs(dir, files) {
  const inputs = [];
  if (files.includes('urltestdata.json')) {
    for (const test of loadCases(dir, 'urltestdata.json')) inputs.push(test.input);
  }
  if (files.includes('toascii.json')) {
    for (const test of loadCases(dir, 'toascii.json')) inputs.push(`https://${test.input}/x`);
  }
  if (files.includes('IdnaTestV2.json')) {
    for (const test of loadCases(dir, 'IdnaTestV2.json')) {
      if (test.input === '') continue;
      inputs.push(`https://${test.input.replace(/[:/?#\\]/g, encodeURIComponent)}/x`);
    }
  }
  return inputs;
}

// Pieces that steer the parser into its different states and host kinds.
const FRAGMENTS = [
  '/', '\\', '//', '?', '#', '@', ':', '.', '..', '%', '%2e', '%2E', '%41', '%zz', '%ff', '%00', '[', ']',
  '[::1]', '0x', '0', '1', '255', '4294967296', ':80', ':443', ':65536', ' ', '\t', '\n', 'A', 'Z', 'xn--',
  'ß', 'ü', '\u3002', '\uff0e', '\u200d', '\u00ad', '\ufffd', '０', 'C:', 'C|', 'localhost', 'http://',
  'https://', 'file:', 'file:///', 'foo:', 'foo://', 'blob:', 'user:pass@', '^', '`', '{', '}', "'", '"', '<',
];

function mutate(input, random) {
  const pick = (items) => items[Math.floor(random() * items.length)];
  const at = () => Math.floor(random() * (input.length + 1));
  const codePoints = [...input];
  switch (Math.floor(random() * 6)) {
    case 0: { const i = at(); return input.slice(0, i) + pick(FRAGMENTS) + input.slice(i); }
    case 1: { const i = Math.floor(random() * codePoints.length); codePoints.splice(i, 1); return codePoints.join(''); }
    case 2: { const i = Math.floor(random() * codePoints.length); codePoints[i] = pick(FRAGMENTS); return codePoints.join(''); }
    case 3: return input.toUpperCase();
    case 4: { const i = at(); const j = at(); return input.slice(0, Math.min(i, j)) + input.slice(Math.max(i, j)); }
    default: { const i = at(); return input.slice(0, i) + input.slice(i, i + 8).repeat(2) + input.slice(i); }
  }
}

// Node.js 20 carries ada 2.9, which predates some changes of the URL Standard that the
// web-platform-tests data already checks, and reads hosts with its own IDNA code rather than ICU.
// Each known reason recognises the disagreements it explains.
const RTL = /[\u0590-\u08ff\ufb1d-\ufdff\ufe70-\ufeff\u{10800}-\u{10fff}\u{1e800}-\u{1efff}]/u;

// The line as the host parser sees its ASCII: tabs and newlines gone, escapes decoded, lower case.
function asTyped(line) {
  return line.replace(/[\t\n\r]/g, '').replace(/%([0-9a-fA-F]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16)))
    .toLowerCase();
}

function hostOf(href) {
  const match = /^[a-z][a-z0-9+.-]*:\/\/(?:[^@/?#]*@)?(\[[^\]]*\]|[^:/?#]*)/.exec(href);
  return match ? match[1] : null;
}

// True when the hierarchical path of `href` still holds a "." or ".." segment (the "/." that
// serialisation puts before a path starting with "//" is not one).
function hasDotSegment(href) {
  const path = href.replace(/^[^:]*:(\/\/[^/?#]*|\/\.(?=\/\/))?/, '').split(/[?#]/)[0];
  return path.startsWith('/') && /\/(\.|%2e){1,2}(?=\/|$)/i.test(path);
}

const KNOWN_REASONS = [
  {
    name: 'ascii-domain',
    why: 'an ASCII domain is only lower-cased (URL Standard, 2026-06); ada 2.9 still runs UTS #46 on it',
    // UTS #46 can only refuse an ASCII domain for one of its "xn--" labels.
    test: (line, ours, theirs) => theirs === 'failure' && ours !== 'failure' && hostOf(ours) !== null &&
      /(^|\.)xn--/.test(hostOf(ours)) && asTyped(line).includes(hostOf(ours)),
  },
  {
    name: 'opaque-path-space',
    why: 'a space before "?" or "#" in an opaque path is encoded (a later URL Standard, in the wpt data); ada 2.9 keeps it',
    test: (line, ours, theirs) => ours !== 'failure' && ours.replace(/%20/g, ' ') === theirs.replace(/%20/g, ' '),
  },
  {
    name: 'caret-in-path',
    why: '"^" is in the path percent-encode set (a later URL Standard, in the wpt data); ada 2.9 keeps it',
    test: (line, ours, theirs) => ours !== 'failure' && ours.replace(/%5E/g, '^') === theirs,
  },
  {
    name: 'dot-segments',
    why: 'ada 2.9 leaves some "." and ".." segments in the path (after "//" or a ":"); the URL Standard removes them',
    test: (line, ours, theirs) => ours !== 'failure' && theirs !== 'failure' && !hasDotSegment(ours) && hasDotSegment(theirs),
  },
  {
    name: 'last-dot-dot-segment',
    why: 'a last ".." segment at the root leaves the path "/" (URL Standard, path state); ada 2.9 leaves it empty',
    test: (line, ours, theirs) => /\/(\.|%2e){2}$/i.test(line) && ours === `${theirs}/`,
  },
  // The three UTS #46 checks below are tried in this order; the first that fits names the case.
  {
    name: 'bidi-rule',
    why: 'UTS #46 CheckBidi (RFC 5893) refuses the domain, as ICU and Chromium do; ada 2.9 accepts it',
    test: (line, ours, theirs) => ours === 'failure' && theirs !== 'failure' && RTL.test(line),
  },
  {
    name: 'contextj-rule',
    why: 'UTS #46 CheckJoiners (RFC 5892 CONTEXTJ) refuses ZWJ/ZWNJ outside their contexts, as ICU does; ada 2.9 accepts them',
    test: (line, ours, theirs) => ours === 'failure' && theirs !== 'failure' && /[\u200c\u200d]/.test(line),
  },
  {
    name: 'ace-label-check',
    why: 'UTS #46 refuses an "xn--" label of a non-ASCII domain whose Punycode is invalid or decodes to ASCII, as ICU does; ada 2.9 accepts it',
    test: (line, ours, theirs) => ours === 'failure' && theirs !== 'failure' && /[^\x00-\x7f]/.test(line) &&
      /xn--/i.test(line),
  },
];

function knownReason(line, ours, theirs) {
  const reason = KNOWN_REASONS.find((candidate) => candidate.test(line, ours, theirs));
  return reason ? reason.name : null;
}

function nodeHref(line) {
  try {
    return new URL(line).href;
  } catch {
    return 'failure';
  }
}

function main() {
  const options = parseArguments(process.argv);
  // The data is part of the repository: without it the comparison has nothing to stand on.
  const missing = options.files.filter((file) => !fs.existsSync(path.join(options.wpt, file)));
  if (missing.length > 0) {
    console.error(`differential: ${missing.join(', ')} missing under ${options.wpt}`);
    process.exit(2);
  }
  let lines = wptInputs(options.wpt, options.files);
  const random = makeRandom(options.seed);
  const seeds = lines.slice();
  for (let i = 0; i < options.mutations; ++i) {
    let line = seeds[Math.floor(random() * seeds.length)];
    const rounds = 1 + Math.floor(random() * 3);
    for (let round = 0; round < rounds; ++round) line = mutate(line, random);
    lines.push(line);
  }
  // One URL per line: a line break inside an input cannot travel.
  lines = [...new Set(lines.filter((line) => !/[\n\r]/.test(line)))];
  if (options.sample > 0) lines = lines.filter((_, i) => i % Math.ceil(lines.length / options.sample) === 0);

  const run = spawnSync(options.urlParse, [], { input: lines.join('\n') + '\n', maxBuffer: 1 << 28 });
  if (run.status !== 0) {
    console.error(`differential: ${options.urlParse} failed: ${run.stderr}`);
    process.exit(2);
  }
  const ours = run.stdout.toString('utf8').split('\n');

  const counts = new Map();
  let disagreements = 0;
  let unexplained = 0;
  lines.forEach((line, i) => {
    const theirs = nodeHref(line);
    if (ours[i] === theirs) return;
    ++disagreements;
    const reason = knownReason(line, ours[i], theirs);
    if (reason === null) ++unexplained;
    counts.set(reason || 'UNEXPLAINED', (counts.get(reason || 'UNEXPLAINED') || 0) + 1);
    console.log(`${reason || 'UNEXPLAINED'} ${JSON.stringify(line)}\n  url-parse: ${ours[i]}\n  node:      ${theirs}`);
  });
  for (const reason of KNOWN_REASONS) {
    if (counts.has(reason.name)) console.log(`  ${reason.name}: ${counts.get(reason.name)} (${reason.why})`);
  }
  console.log(`differential: ${lines.length} lines, ${disagreements} disagreements, ${unexplained} unexplained ` +
              `(node ${process.version}, ada ${process.versions.ada}, Unicode ${process.versions.unicode})`);
  process.exit(unexplained === 0 ? 0 : 1);
}

main();
