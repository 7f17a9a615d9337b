#!/usr/bin/env bash
# Installs the given Debian packages with apt-get, as root or through sudo, after refreshing the
# package lists. Usage: scripts/apt-install.sh PACKAGE...
set -euo pipefail
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { printf 'apt-install: need root to install %s\n' "$*" >&2; exit 1; }
  sudo=(sudo)
fi
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
