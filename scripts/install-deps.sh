#!/usr/bin/env bash
# Installs what the build, the tests, the demo and the benchmarks need, and nothing that is
# already there. Debian/Ubuntu through apt-get, macOS through Homebrew. Prints what it installs.
set -euo pipefail

say() { printf 'install-deps: %s\n' "$*"; }

install_debian() {
  # Each entry: package name, then a command or file that proves it is present.
  local wanted=(
    "cmake:cmd:cmake"
    "ninja-build:cmd:ninja"
    "g++:cmd:g++"
    "clang:cmd:clang++"
    "libclang-rt-14-dev:pkg"
    "libboost1.81-dev:pkg"
    "libboost-json1.81-dev:pkg"
    "libicu-dev:pkg"
    "libgtest-dev:pkg"
    "libgmock-dev:pkg"
    "libbenchmark-dev:pkg"
    "nodejs:cmd:node"
    "python3:cmd:python3"
  )
  local missing=()
  for entry in "${wanted[@]}"; do
    IFS=: read -r package kind probe <<<"$entry"
    case "$kind" in
      cmd) command -v "$probe" >/dev/null 2>&1 && continue ;;
      pkg) dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' && continue ;;
    esac
    missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { say "need root to install: ${missing[*]}"; exit 1; }
    sudo=(sudo)
  fi
  say "installing with apt-get: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_macos() {
  command -v brew >/dev/null 2>&1 || { say "Homebrew is required on macOS: https://brew.sh"; exit 1; }
  local wanted=(cmake ninja boost icu4c googletest google-benchmark node)
  local missing=()
  for formula in "${wanted[@]}"; do
    brew list --versions "$formula" >/dev/null 2>&1 || missing+=("$formula")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing with brew: ${missing[*]}"
  brew install "${missing[@]}"
}

case "$(uname -s)" in
  Linux)
    if command -v apt-get >/dev/null 2>&1; then install_debian
    else say "unsupported Linux distribution: install the packages listed in README.md by hand"; fi ;;
  Darwin) install_macos ;;
  *) say "unsupported system $(uname -s)"; exit 1 ;;
esac
