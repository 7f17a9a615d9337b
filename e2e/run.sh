#!/usr/bin/env bash
# The browser end-to-end test: e2e/run.mjs against the host and app-peer of a build.
# usage: e2e/run.sh BIN_DIR
# Exits 77 (skipped, with the reason) when Chromium, Node.js or playwright-core is not installed:
# e2e/setup.sh installs them, `make e2e` runs it first.
set -euo pipefail
bin=$(cd "${1:?usage: e2e/run.sh BIN_DIR}" && pwd)
cd "$(dirname "$0")"
chromium=$(command -v chromium || true)

skip() { echo "e2e: $* - skipped (e2e/setup.sh installs it; \`make e2e\` runs it)"; exit 77; }
[ -n "$chromium" ] || skip "Chromium is not installed"
command -v node >/dev/null 2>&1 || skip "Node.js is not installed"
[ -f node_modules/playwright-core/package.json ] || skip "playwright-core is not installed in e2e/node_modules"

exec node run.mjs --host "$bin/ondrake-native-host" --app-peer "$bin/app-peer" --chromium "$chromium"
