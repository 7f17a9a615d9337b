#!/usr/bin/env bash
# Runs packaging/check-macho.sh against stand-ins for otool, file, codesign and plutil that print
# what the real tools print on macOS, so that its reading of that output and its verdicts are
# checked on every platform, not only on a macOS runner.
#   check_macho_test.sh <source dir>
set -u

script=$1/packaging/check-macho.sh
floor=$(head -n 1 "$1/packaging/macos-floor")

failures=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ondrake-macho-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM

# The stand-ins. otool prints $OTOOL_DIR/<file name>.l for -l and .L for -L; file calls a file that
# starts with "MACHO" a Mach-O executable; codesign refuses the file named in $CODESIGN_REFUSES;
# plutil refuses a file holding "BROKEN".
mkdir "$scratch/bin"
cat >"$scratch/bin/otool" <<'STUB'
#!/bin/sh
case "$1" in -l) kind=l ;; *) kind=L ;; esac
cat "$OTOOL_DIR/$(basename "$2").$kind" 2>/dev/null
STUB
cat >"$scratch/bin/file" <<'STUB'
#!/bin/sh
if [ "$(head -c 5 "$2")" = MACHO ]; then echo "Mach-O 64-bit executable arm64"; else echo data; fi
STUB
cat >"$scratch/bin/codesign" <<'STUB'
#!/bin/sh
for last; do :; done
[ "$(basename "$last")" != "${CODESIGN_REFUSES:-}" ]
STUB
cat >"$scratch/bin/plutil" <<'STUB'
#!/bin/sh
for last; do :; done
! grep -q BROKEN "$last"
STUB
chmod 755 "$scratch/bin/"*

# otool -l output: an LC_BUILD_VERSION command (its tool version line must not count as the
# minimum), or the older LC_VERSION_MIN_MACOSX.
build_version() {
    printf 'Load command 9\n      cmd LC_BUILD_VERSION\n  cmdsize 32\n platform 1\n    minos %s\n      sdk 15.2\n   ntools 1\n     tool 3\n  version 1115.7.3\n' "$1"
}
version_min() {
    printf 'Load command 9\n      cmd LC_VERSION_MIN_MACOSX\n  cmdsize 16\n  version %s\n      sdk 10.15\n' "$1"
}
SYSTEM_LIBRARIES=$(printf '%s\n' "HOST:" \
    "	/usr/lib/libc++.1.dylib (compatibility version 1.0.0, current version 1800.101.0)" \
    "	/usr/lib/libSystem.B.dylib (compatibility version 1.0.0, current version 1351.0.0)")

# run_case <name> <expected status> <expected text> <host load commands> <host libraries>
#          <archive load commands> [script options]
run_case() {
    local name=$1 status=$2 text=$3 dir="$scratch/$1"
    mkdir -p "$dir/otool" "$dir/App.app/Contents/MacOS" "$dir/build"
    printf 'MACHO' >"$dir/App.app/Contents/MacOS/ondrake-native-host"
    printf '<plist>%s</plist>\n' "${PLIST:-}" >"$dir/App.app/Contents/Info.plist"
    printf '%s\n' "$4" >"$dir/otool/ondrake-native-host.l"
    printf '%s\n' "$5" >"$dir/otool/ondrake-native-host.L"
    printf '%s\n' "$6" >"$dir/otool/libicuuc.a.l"
    printf 'ONDRAKE_ICUUC_ARCHIVE:FILEPATH=%s\n' "$dir/libicuuc.a" >"$dir/build/CMakeCache.txt"
    shift 6
    local out got
    out=$(PATH="$scratch/bin:$PATH" OTOOL_DIR="$dir/otool" bash "$script" "$@" "$dir/App.app" "$dir/build")
    got=$?
    [ "$got" = "$status" ] || fail "$name: exit status $got, expected $status: $out"
    case "$out" in
        *"$text"*) ;;
        *) fail "$name: the output does not say \"$text\": $out" ;;
    esac
}

older_archive=$(build_version 10.13)
newer_archive=$(build_version 14.0)
run_case fits 0 "all checks passed" "$(build_version "$floor")" "$SYSTEM_LIBRARIES" "$older_archive"
run_case older-load-command 0 "all checks passed" "$(version_min 10.15)" "$SYSTEM_LIBRARIES" "$older_archive"
run_case one-architecture-newer 1 "declares macOS 13.0, newer than the floor $floor" \
    "$(build_version "$floor"; build_version 13.0)" "$SYSTEM_LIBRARIES" "$older_archive"
run_case no-minimum 1 "declares no minimum macOS" "" "$SYSTEM_LIBRARIES" "$older_archive"
run_case homebrew-library 1 "links /opt/homebrew/opt/icu4c/lib/libicuuc.76.dylib, which is not a library of the system" \
    "$(build_version "$floor")" \
    "$SYSTEM_LIBRARIES
	/opt/homebrew/opt/icu4c/lib/libicuuc.76.dylib (compatibility version 76.0.0, current version 76.1.0)" \
    "$older_archive"
CODESIGN_REFUSES=ondrake-native-host run_case unsigned 1 "codesign --verify --strict refuses it" \
    "$(build_version "$floor")" "$SYSTEM_LIBRARIES" "$older_archive"
PLIST=BROKEN run_case broken-info-plist 1 "plutil -lint refuses it" \
    "$(build_version "$floor")" "$SYSTEM_LIBRARIES" "$older_archive"
run_case newer-archive 0 "WARNING: $scratch/newer-archive/libicuuc.a was built for macOS 14.0, newer than the floor $floor" \
    "$(build_version "$floor")" "$SYSTEM_LIBRARIES" "$older_archive
$newer_archive"
run_case newer-archive-release 1 "FAIL: $scratch/newer-archive-release/libicuuc.a was built for macOS 14.0" \
    "$(build_version "$floor")" "$SYSTEM_LIBRARIES" "$newer_archive" --release

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "check-macho: all cases passed"
