#!/usr/bin/env bash
# Installs the Node.js packages the tests need, each folder's exactly as its package-lock.json says
# (`npm ci`), unless they are there already and no older than the lockfile: ajv for the protocol
# schema test (tools/protocol-doc), and ajv and typescript for the extension client's tests
# (extension-client). Prints what it installs. Node.js and npm come from scripts/install-deps.sh,
# which runs this last; the browser test's ws comes with its browsers from e2e/setup.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

say() { printf 'node deps: %s\n' "$*"; }

for folder in tools/protocol-doc extension-client; do
  # npm ci records what it installed in node_modules/.package-lock.json.
  installed="$root/$folder/node_modules/.package-lock.json"
  if [ -f "$installed" ] && [ ! "$root/$folder/package-lock.json" -nt "$installed" ]; then continue; fi
  command -v npm >/dev/null 2>&1 || { say "npm is missing (scripts/install-deps.sh installs it)"; exit 1; }
  say "installing with npm ci into $folder/node_modules, as its package-lock.json lists"
  # None of these packages needs an install script; --ignore-scripts keeps it that way.
  (cd "$root/$folder" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
done
