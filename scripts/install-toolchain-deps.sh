#!/usr/bin/env bash
# Installs what `make libcxx` and `make mac-checks` need beyond scripts/install-deps.sh, and nothing
# that is already there: clang 19 and its libc++ (Debian 12 ships both; libc++ 19 is the release
# whose headers leave out their transitive includes on request, and its headers replace libc++
# 14's, which cannot be installed beside them), GoogleTest's sources, GNUstep Base with GCC's
# Objective-C runtime, and the blocks runtime. Debian and Ubuntu only: on macOS the real toolchain
# builds the product. Prints what it installs.
set -euo pipefail

say() { printf 'install-toolchain-deps: %s\n' "$*"; }

if [ "$(uname -s)" != Linux ] || ! command -v apt-get >/dev/null 2>&1; then
  say "the libc++ build and the Mac checks run on Debian or Ubuntu; on macOS, \`make test\` builds with Apple's toolchain"
  exit 1
fi

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

wanted=(clang-19 libc++-19-dev libc++abi-19-dev googletest libgnustep-base-dev libblocksruntime-dev)
missing=()
for package in "${wanted[@]}"; do
  package_installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
say "installing with apt-get: ${missing[*]}"
"$(dirname "$0")/apt-install.sh" "${missing[@]}"
