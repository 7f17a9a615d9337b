#!/usr/bin/env bash
# The browser end-to-end test (e2e/run.mjs): the bundle of a build laid out in /Applications,
# registered from there, and used by Debian's Chromium and Firefox ESR under a throwaway HOME.
# usage: e2e/run.sh CMAKE BUILD_DIR
#
# Exits 77 (skipped, with the reason and how to run it, also written to BUILD_DIR/e2e-skipped.txt
# for `make test` to show) when this user may not create the bundle in /Applications, or when a
# browser, Node.js or the ws package is missing; e2e/setup.sh installs them and `make e2e` runs it
# first. In continuous integration (CI set) any of them missing fails the test.
# Whatever happens, the bundle, the HOME and every process the test started are removed.
set -uo pipefail
cmake=${1:?usage: e2e/run.sh CMAKE BUILD_DIR}
build=$(cd "${2:?usage: e2e/run.sh CMAKE BUILD_DIR}" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)

SKIPPED=77
# CTest does not show what a skipped test printed: `make test` shows this file's line after the
# results, so that a skipped run says how to run it.
skip_note="$build/e2e-skipped.txt"
rm -f "$skip_note"
skip() {
    echo "e2e: skipped: $*" | tee "$skip_note"
    exit $SKIPPED
}
missing() {
    if [ -n "${CI:-}" ] && [ "${CI}" != false ]; then
        echo "e2e: FAILED: $* (continuous integration runs e2e/setup.sh first)"
        echo "0 passed, 1 failed"
        exit 1
    fi
    skip "$*; \`make e2e\` installs it (e2e/setup.sh) and runs the browser test"
}

[ "$(uname -s)" = Linux ] || skip "it drives Debian's Chromium and Firefox ESR, on Linux only"

# Where a user's application lies; creating it needs root here, as it needs an administrator on a Mac.
created_applications=0
if [ ! -d /Applications ]; then
    mkdir /Applications 2>/dev/null || skip "cannot create /Applications; run \`make e2e\` as root"
    created_applications=1
elif [ ! -w /Applications ]; then
    skip "/Applications is not writable by this user; run \`make e2e\` as root"
fi

scratch=""
bundle=""
cleanup() {
    # run.mjs ends its processes itself; this is for a run that was killed before it could.
    if [ -n "$scratch" ]; then
        if [ -f "$scratch/process-groups" ]; then
            while read -r group; do kill -KILL -- "-$group" 2>/dev/null; done <"$scratch/process-groups"
        fi
        if [ -s "$scratch/application.pid" ]; then kill -KILL "$(cat "$scratch/application.pid")" 2>/dev/null; fi
        rm -rf "$scratch"
    fi
    if [ -n "$bundle" ]; then rm -rf "$bundle"; fi
    if [ "$created_applications" = 1 ]; then rmdir /Applications 2>/dev/null; fi
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

chromium=$(command -v chromium || true)
firefox=$(command -v firefox-esr || true)
[ -n "$chromium" ] || missing "Chromium is not installed"
[ -n "$firefox" ] || missing "Firefox ESR is not installed"
command -v node >/dev/null 2>&1 || missing "Node.js is not installed"
[ -f "$here/node_modules/ws/package.json" ] || missing "the ws package is not installed in e2e/node_modules"

# Short on purpose: the application's socket lies under this HOME, and its path must fit a Unix
# socket address (104 bytes on macOS).
scratch=$(mktemp -d /tmp/ondrake-e2e.XXXXXX) || exit 1
chmod 755 "$scratch"
bundle="/Applications/Ondrake Download E2E $$.app"
if [ -e "$bundle" ]; then
    echo "e2e: $bundle already exists"
    bundle=""
    exit 1
fi

# Not exec: the traps above must run after it.
node "$here/run.mjs" \
    --cmake "$cmake" --build "$build" --scratch "$scratch" --bundle "$bundle" \
    --chromium "$chromium" --firefox "$firefox"
