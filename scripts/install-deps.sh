#!/usr/bin/env bash
# Installs what the build, the tests, the demo and the benchmarks need, and nothing that is
# already there. Debian/Ubuntu through apt-get, macOS through Homebrew. Prints what it installs.
set -euo pipefail

say() { printf 'install-deps: %s\n' "$*"; }

# The candidate version apt would install, or nothing when no package has that name.
candidate_version() {
  apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/ { if ($2 != "(none)") print $2; exit }'
}

# Boost 1.81 or newer with Boost.JSON, found by the CMake package files that find_package reads.
boost_present() {
  local config version
  for config in /usr/lib/*/cmake/boost_json-* /usr/lib/cmake/boost_json-*; do
    [ -d "$config" ] || continue
    version=${config##*/boost_json-}
    dpkg --compare-versions "$version" ge 1.81 && return 0
  done
  return 1
}

# Debian 12 packages Boost 1.81 under versioned names, Ubuntu 24.04 packages 1.83; the unversioned
# packages serve only where they are recent enough (Debian 12's are 1.74).
boost_packages() {
  local version
  for version in 1.81 1.83; do
    if [ -n "$(candidate_version "libboost$version-dev")" ] &&
       [ -n "$(candidate_version "libboost-json$version-dev")" ]; then
      echo "libboost$version-dev libboost-json$version-dev"
      return 0
    fi
  done
  version=$(candidate_version libboost-json-dev)
  if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1.81; then
    echo "libboost-dev libboost-json-dev"
    return 0
  fi
  return 1
}

# The sanitizer runtime must match the major version of `clang`: the installed one, or the one
# that installing "clang" would bring (Debian 12: 14, Ubuntu 24.04: 18).
clang_major() {
  if command -v clang++ >/dev/null 2>&1; then
    clang++ -dumpversion | cut -d. -f1
  else
    candidate_version clang | sed -E 's/^[0-9]+://; s/[^0-9].*$//'
  fi
}

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

install_debian() {
  # Each entry: package name, then a command, package or Python module that proves it is present.
  # Boost and the clang runtime have names that differ between releases: resolved further down.
  local wanted=(
    "cmake:cmd:cmake"
    "ninja-build:cmd:ninja"
    "g++:cmd:g++"
    "clang:cmd:clang++"
    "clang-format:cmd:clang-format"
    "libicu-dev:pkg"
    "icu-devtools:pkg"
    "libgtest-dev:pkg"
    "libbenchmark-dev:pkg"
    "nodejs:cmd:node"
    "npm:cmd:npm"
    "python3:cmd:python3"
    "python3-yaml:py:yaml"
    "strace:cmd:strace"
  )
  local missing=()
  for entry in "${wanted[@]}"; do
    IFS=: read -r package kind probe <<<"$entry"
    case "$kind" in
      cmd) command -v "$probe" >/dev/null 2>&1 && continue ;;
      pkg) package_installed "$package" && continue ;;
      py) { package_installed "$package" || python3 -c "import $probe" 2>/dev/null; } && continue ;;
    esac
    missing+=("$package")
  done
  local need_boost=0 need_clang_runtime=0
  boost_present || need_boost=1
  if ! command -v clang++ >/dev/null 2>&1 ||
     ! package_installed "libclang-rt-$(clang_major)-dev"; then
    need_clang_runtime=1
  fi
  [ ${#missing[@]} -eq 0 ] && [ $need_boost -eq 0 ] && [ $need_clang_runtime -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { say "need root to install packages"; exit 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq

  if [ $need_boost -eq 1 ]; then
    local boost
    boost=$(boost_packages) || { say "no Boost 1.81 or newer with Boost.JSON is available from apt"; exit 1; }
    read -r -a boost <<<"$boost"
    missing+=("${boost[@]}")
  fi
  if [ $need_clang_runtime -eq 1 ]; then
    local major
    major=$(clang_major)
    if [ -n "$major" ] && [ -n "$(candidate_version "libclang-rt-$major-dev")" ]; then
      missing+=("libclang-rt-$major-dev")
    else
      say "no sanitizer runtime found for clang ${major:-?}; \`make sanitize\` may not link"
    fi
  fi
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing with apt-get: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_macos() {
  command -v brew >/dev/null 2>&1 || { say "Homebrew is required on macOS: https://brew.sh"; exit 1; }
  # Tools count wherever they come from (CI images ship their own cmake and node); libraries must
  # be Homebrew's, where the build looks for them.
  local wanted=(
    "cmake:cmd:cmake"
    "ninja:cmd:ninja"
    "node:cmd:node"
    "python3:cmd:python3"
    "boost:brew"
    "icu4c:brew"
    "googletest:brew"
    "google-benchmark:brew"
  )
  local missing=()
  for entry in "${wanted[@]}"; do
    IFS=: read -r formula kind probe <<<"$entry"
    case "$kind" in
      cmd) command -v "$probe" >/dev/null 2>&1 && continue ;;
      brew) brew list --versions "$formula" >/dev/null 2>&1 && continue ;;
    esac
    missing+=("$formula")
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

# The tests' Node.js packages, from their lockfiles.
"$(dirname "$0")/install-node-deps.sh"
