#!/usr/bin/env bash
# Installs what the browser end-to-end test needs and nothing that is already there: Debian's
# Chromium (never a browser downloaded by a test tool) and playwright-core, the library that
# drives it, into e2e/node_modules from e2e/package-lock.json. Prints what it installs.
set -euo pipefail
cd "$(dirname "$0")"

say() { printf 'e2e setup: %s\n' "$*"; }

if ! command -v chromium >/dev/null 2>&1; then
  if ! command -v apt-get >/dev/null 2>&1; then
    say "Chromium is missing and there is no apt-get to install it with"
    exit 1
  fi
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { say "need root to install chromium"; exit 1; }
    sudo=(sudo)
  fi
  say "installing with apt-get: chromium"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends chromium
fi

if [ ! -f node_modules/playwright-core/package.json ]; then
  command -v npm >/dev/null 2>&1 || { say "npm is missing (scripts/install-deps.sh installs nodejs)"; exit 1; }
  say "installing with npm: playwright-core (no browser download)"
  # playwright-core never downloads a browser itself; the variable says so twice.
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
fi
