#!/usr/bin/env bash
# Installs what the browser end-to-end test needs and nothing that is already there: Debian's
# Chromium and Firefox ESR (never a browser downloaded by a test tool), npm, and ws, the WebSocket
# client the test speaks WebDriver BiDi to Firefox with, into e2e/node_modules from
# e2e/package-lock.json. Prints what it installs.
set -euo pipefail
cd "$(dirname "$0")"

say() { printf 'e2e setup: %s\n' "$*"; }

packages=()
command -v chromium >/dev/null 2>&1 || packages+=(chromium)
command -v firefox-esr >/dev/null 2>&1 || packages+=(firefox-esr)
# Debian's nodejs comes without its package manager.
if [ ! -f node_modules/ws/package.json ] && ! command -v npm >/dev/null 2>&1; then packages+=(npm); fi
if [ ${#packages[@]} -gt 0 ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    say "missing ${packages[*]}, and there is no apt-get to install them with"
    exit 1
  fi
  say "installing with apt-get: ${packages[*]}"
  ../scripts/apt-install.sh "${packages[@]}"
fi

if [ ! -f node_modules/ws/package.json ]; then
  say "installing with npm: ws (a WebSocket client; it downloads nothing else)"
  # ws has no dependencies and no install scripts; --ignore-scripts keeps it that way.
  npm ci --no-audit --no-fund --ignore-scripts --loglevel=error
fi
