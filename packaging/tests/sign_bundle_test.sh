#!/usr/bin/env bash
# Runs the bundle's signing step with a stand-in `codesign` that records its arguments, so that
# which identity signs what, with which options and in which order is checked on every platform,
# not only where the real codesign exists.
#   sign_bundle_test.sh <cmake> <source dir>
set -u

cmake=$1
script=$2/packaging/sign_bundle.cmake

failures=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ondrake-sign-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM

mkdir "$scratch/bin"
cat >"$scratch/bin/codesign" <<'EOF'
#!/bin/sh
# One line per call, each argument in brackets; fails when asked to.
line=codesign
for argument in "$@"; do line="$line [$argument]"; done
echo "$line" >>"$CODESIGN_LOG"
exit "${CODESIGN_STATUS:-0}"
EOF
chmod 755 "$scratch/bin/codesign"

PREFIX="/Applications/Ondrake Download.app"
APPEX_ARGS="[--identifier] [com.ondrake.download.SafariExtension] [--entitlements] [/src/safari.entitlements]"
HOST_ARGS="[--entitlements] [/src/host.entitlements]"
RELEASE="[--options] [runtime] [--timestamp]"

# sign <environment identity> <configured identity> <DESTDIR> <codesign status>: runs the step;
# sets status and calls (the recorded codesign lines).
sign() {
    : >"$scratch/log"
    PATH="$scratch/bin:$PATH" CODESIGN_LOG="$scratch/log" CODESIGN_STATUS=$4 \
        CODESIGN_IDENTITY=$1 DESTDIR=$3 \
        "$cmake" -D "CMAKE_INSTALL_PREFIX=$PREFIX" \
        -D ONDRAKE_HOST_ENTITLEMENTS=/src/host.entitlements \
        -D ONDRAKE_SAFARI_ENTITLEMENTS=/src/safari.entitlements \
        -D "ONDRAKE_CONFIGURED_IDENTITY=$2" \
        -P "$script" >"$scratch/output" 2>&1
    status=$?
    calls=$(cat "$scratch/log")
}

# expected_calls <identity> <options> <DESTDIR>: the extension first, then the host.
expected_calls() {
    local options=${2:+ $2}
    printf 'codesign [--force] [--sign] [%s]%s %s [%s]\n' \
        "$1" "$options" "$APPEX_ARGS" "$3$PREFIX/Contents/PlugIns/OndrakeSafariExtension.appex"
    printf 'codesign [--force] [--sign] [%s]%s %s [%s]' \
        "$1" "$options" "$HOST_ARGS" "$3$PREFIX/Contents/MacOS/ondrake-native-host"
}

DEVELOPER_ID="Developer ID Application: Ondrake Labs (AB12CD34EF)"
# name | identity from the environment | configured identity | DESTDIR | identity used | options
CASES=(
    "ad hoc by default||-||-|"
    "nothing configured either||||-|"
    "the environment's identity wins|$DEVELOPER_ID|-||$DEVELOPER_ID|$RELEASE"
    "the configured identity without one in the environment||$DEVELOPER_ID||$DEVELOPER_ID|$RELEASE"
    "ad hoc asked for explicitly|-|$DEVELOPER_ID||-|"
    "a staging directory|-|-|/stage|-|"
)
for case in "${CASES[@]}"; do
    IFS='|' read -r name environment configured destdir identity options <<<"$case"
    sign "$environment" "$configured" "$destdir" 0
    [ "$status" = 0 ] || fail "$name: exit status $status: $(cat "$scratch/output")"
    expected=$(expected_calls "$identity" "$options" "$destdir")
    [ "$calls" = "$expected" ] || fail "$name: codesign was called as
$calls
expected
$expected"
done

# A signature that cannot be made fails the installation, and nothing is signed after it.
sign "" "-" "" 1
[ "$status" != 0 ] || fail "a failing codesign did not fail the step"
[ "$(printf '%s\n' "$calls" | wc -l | tr -d ' ')" = 1 ] || fail "signing went on after a failure: $calls"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "signing step: all checks passed"
