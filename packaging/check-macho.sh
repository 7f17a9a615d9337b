#!/usr/bin/env bash
# Checks the code that we ship in a laid-out bundle (`make bundle`), on macOS. For every Mach-O file:
#   - the oldest macOS it declares (LC_BUILD_VERSION minos, or LC_VERSION_MIN_MACOSX) is at most the
#     floor in packaging/macos-floor, for every architecture;
#   - it links only the system's libraries (/usr/lib, /System): anything else is not on the user's Mac;
#   - its signature verifies (codesign --verify --strict);
# and every Info.plist passes plutil -lint. Given the build directory, it also looks at the static
# ICU archive the host was linked from (Homebrew's, usually): objects built for a newer
# macOS than the floor make the host need that macOS whatever it declares (ld then warns "was built
# for newer macOS version"). That is a warning, an error with --release (README: Platforms).
#
# usage: packaging/check-macho.sh [--release] <bundle.app> [build dir]
# Exit status 0 when every check passed, 1 when one failed, 2 on a wrong command line.
# Written for the bash 3.2 that macOS ships.
set -u

release=0
if [ "${1:-}" = --release ]; then
    release=1
    shift
fi
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
    echo "usage: $0 [--release] <bundle.app> [build dir]" >&2
    exit 2
fi
bundle=$1
build=${2:-}
floor=$(head -n 1 "$(dirname "$0")/macos-floor")

failures=0
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

# version_newer A B: A is a later macOS version than B (dotted numbers, missing parts are 0).
version_newer() {
    awk -v a="$1" -v b="$2" 'BEGIN {
        split(a, x, "."); split(b, y, ".")
        for (i = 1; i <= 3; i++) {
            if (x[i] + 0 > y[i] + 0) exit 0
            if (x[i] + 0 < y[i] + 0) exit 1
        }
        exit 1
    }'
}

# The minimum macOS versions that a Mach-O file or archive declares, one per architecture or member.
declared_minimums() {
    otool -l "$1" | awk '
        $1 == "cmd" { kind = $2 }
        kind == "LC_BUILD_VERSION" && $1 == "minos" { print $2 }
        kind == "LC_VERSION_MIN_MACOSX" && $1 == "version" { print $2 }'
}

# The libraries a Mach-O file links, one path a line (otool -L: a header line per architecture,
# ending in ":", then one indented line per library).
linked_libraries() {
    otool -L "$1" | awk '!/:$/ { print $1 }'
}

# The newest of the versions on standard input.
newest() {
    local newest="" version
    while read -r version; do
        if [ -z "$newest" ] || version_newer "$version" "$newest"; then newest=$version; fi
    done
    echo "$newest"
}

check_macho() {
    local file=$1 version library found=0
    for version in $(declared_minimums "$file"); do
        found=1
        if version_newer "$version" "$floor"; then
            fail "$file declares macOS $version, newer than the floor $floor"
        fi
    done
    [ "$found" = 1 ] || fail "$file declares no minimum macOS"
    for library in $(linked_libraries "$file"); do
        case "$library" in
            /usr/lib/* | /System/*) ;;
            *) fail "$file links $library, which is not a library of the system" ;;
        esac
    done
    codesign --verify --strict "$file" 2>/dev/null || fail "$file: codesign --verify --strict refuses it"
}

checked=0
while IFS= read -r -d '' path; do
    case "$path" in
        */Info.plist) plutil -lint -s "$path" >/dev/null || fail "$path: plutil -lint refuses it" ;;
    esac
    if file -b "$path" | grep -q 'Mach-O'; then
        check_macho "$path"
        checked=$((checked + 1))
    fi
done < <(find "$bundle" -type f -print0)
[ "$checked" -gt 0 ] || fail "$bundle holds no Mach-O file"

if [ -n "$build" ]; then
    [ -f "$build/CMakeCache.txt" ] || fail "$build has no CMakeCache.txt"
    while IFS= read -r archive; do
        built_for=$(declared_minimums "$archive" | newest)
        if [ -n "$built_for" ] && version_newer "$built_for" "$floor"; then
            message="$archive was built for macOS $built_for, newer than the floor $floor: the host linked from it needs macOS $built_for. A release build links an ICU built with MACOSX_DEPLOYMENT_TARGET=$floor (README: Platforms)."
            if [ "$release" = 1 ]; then fail "$message"; else printf 'WARNING: %s\n' "$message"; fi
        fi
    done < <(grep -E '^ONDRAKE_ICUUC_ARCHIVE:FILEPATH=' "$build/CMakeCache.txt" 2>/dev/null | cut -d= -f2-)
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "check-macho: $checked Mach-O file(s) for macOS $floor and later: all checks passed"
