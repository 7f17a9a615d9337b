#!/usr/bin/env bash
# Installs what the protocol schema test needs, unless it is already there: ajv, the JSON Schema
# validator, into tools/protocol-doc/node_modules from tools/protocol-doc/package-lock.json.
# Prints what it installs. Node.js and npm come from scripts/install-deps.sh (or the CI image).
set -euo pipefail
cd "$(dirname "$0")/../tools/protocol-doc"

say() { printf 'doc deps: %s\n' "$*"; }

if [ ! -f node_modules/ajv/package.json ]; then
  command -v npm >/dev/null 2>&1 || { say "npm is missing (scripts/install-deps.sh installs nodejs)"; exit 1; }
  say "installing with npm: ajv"
  npm ci --no-audit --no-fund --loglevel=error
fi
