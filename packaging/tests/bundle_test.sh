#!/usr/bin/env bash
# Lays out the "bundle" install component exactly as `make bundle` does (cmake --install of an
# existing build tree, never a rebuild), completes it with a stand-in application, and checks what
# the browsers and registration find there.
#
#   bundle_test.sh layout       <cmake> <build dir> <source dir>
#       a bundle in a temporary directory: files, modes, signatures (macOS), the web extension's
#       resources in the Safari extension (macOS) and the refusal of a directory without a usable
#       manifest.json, and that the bundled host identifies itself and its application
#       (registration then refuses the location)
#   bundle_test.sh applications <cmake> <build dir> <source dir>
#       a bundle directly in /Applications, registered and unregistered for real; exits 77
#       (skipped) when this user may not create it
#
# Written for the bash 3.2 that macOS ships.
set -u

mode=$1
cmake=$2
build=$3
source=$4

SKIPPED=77
failures=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ondrake-bundle-XXXXXX") || exit 1
bundle=""
created_applications=0
cleanup() {
    if [ -n "$bundle" ]; then rm -rf "$bundle"; fi
    if [ "$created_applications" = 1 ]; then rmdir /Applications 2>/dev/null; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

on_macos() { [ "$(uname -s)" = Darwin ]; }

# Lays the component out into the bundle directory $1, with the web extension directory $2 (as
# `make bundle WEB_EXTENSION=...` passes it, relative to the working directory $3) or, without $2,
# the default; a failure here ends the test.
install_bundle() {
    if ! (cd "${3:-.}" && ONDRAKE_WEB_EXTENSION="${2:-}" \
          "$cmake" --install "$build" --component bundle --prefix "$1") >"$scratch/install.log" 2>&1; then
        cat "$scratch/install.log" >&2
        fail "cmake --install of the bundle component into $1"
        exit 1
    fi
}

# What the application's own build adds: the Info.plist naming the main executable ($2), in the
# XML form, and (unless $3 is "no-executable") that executable.
add_application() {
    cat >"$1/Contents/Info.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>$2</string>
	<key>CFBundleIdentifier</key>
	<string>com.ondrake.download</string>
</dict>
</plist>
EOF
    if [ "${3:-}" != no-executable ]; then
        printf '#!/bin/sh\nexit 0\n' >"$1/Contents/MacOS/$2"
        chmod 755 "$1/Contents/MacOS/$2"
    fi
}

# Runs the host $1 with HOME=$2 and the remaining arguments; sets status, out and err.
run_host() {
    local host=$1 home=$2
    shift 2
    HOME=$home "$host" "$@" </dev/null >"$scratch/stdout" 2>"$scratch/stderr"
    status=$?
    out=$(cat "$scratch/stdout")
    err=$(cat "$scratch/stderr")
}

# The host's diagnostic lines for the messages given, one per argument.
lines() {
    local message
    for message in "$@"; do printf 'ondrake-native-host: %s\n' "$message"; done
}

# expect_run <what> <status> <stderr text>: checks the last run_host; stdout must stay empty.
expect_run() {
    [ "$status" = "$2" ] || fail "$1: exit status $status, expected $2"
    [ -z "$out" ] || fail "$1: standard output is not empty: $out"
    [ "$err" = "$3" ] || fail "$1: standard error was
$err
expected
$3"
}

expect_mode() {
    [ -n "$(find "$1" -prune -perm "$2")" ] || fail "$1: mode $(ls -ld "$1" | cut -c1-10), expected $2"
}

expect_empty_dir() {
    [ -z "$(ls -A "$1")" ] || fail "$2: $1 is not empty: $(ls -A "$1")"
}

# expect_file_bytes <file> <text>: the file holds exactly the text, with no line feed added.
expect_file_bytes() {
    printf '%s' "$2" | cmp -s - "$1" || fail "$1 does not hold exactly: $2"
}

# The host's messages this test meets.
IDENTIFICATION_FAILURE=$(lines \
    "the application could not be identified from the host's location" \
    "this verb registers the host next to it inside a packaged application; run it from Contents/MacOS of a built .app")
NOT_CANONICAL=$(lines "the application is not installed in its canonical location")

# macOS: each signature is valid, and carries the identifier and entitlements intended for it.
check_signature() { # <code path> <entitlements source> [identifier]
    codesign --verify --strict --verbose=1 "$1" 2>"$scratch/verify.log" ||
        fail "$1: signature does not verify: $(cat "$scratch/verify.log")"
    if [ $# -ge 3 ]; then
        codesign --display --verbose=1 "$1" 2>&1 | grep -qx "Identifier=$3" ||
            fail "$1: not signed with the identifier $3"
    fi
    codesign --display --entitlements - --xml "$1" >"$scratch/entitlements.plist" 2>/dev/null ||
        fail "$1: entitlements cannot be read"
    python3 - "$scratch/entitlements.plist" "$2" <<'EOF' || fail "$1: entitlements differ from $2"
import plistlib, sys
with open(sys.argv[1], "rb") as signed, open(sys.argv[2], "rb") as wanted:
    sys.exit(0 if plistlib.load(signed) == plistlib.load(wanted) else 1)
EOF
}

# Web extension directories that Safari could not load are refused before anything is laid out.
check_web_extension_refused() {
    local extensions="$scratch/web-extensions"
    mkdir -p "$extensions/empty" "$extensions/not-json" "$extensions/manifest-dir/manifest.json"
    printf 'manifest_version: 3\n' >"$extensions/not-json/manifest.json"
    local directory reason
    while IFS='|' read -r directory reason; do
        local refused="$scratch/refused/Ondrake Download.app"
        if (ONDRAKE_WEB_EXTENSION="$extensions/$directory" \
            "$cmake" --install "$build" --component bundle --prefix "$refused") >"$scratch/refused.log" 2>&1; then
            fail "web extension $directory: laid out"
        elif ! tr -s ' \n' '  ' <"$scratch/refused.log" | grep -qF "$reason"; then  # cmake wraps lines
            fail "web extension $directory: the refusal does not say \"$reason\": $(cat "$scratch/refused.log")"
        fi
        [ ! -e "$refused" ] || fail "web extension $directory: $refused was made although refused"
        rm -rf "$scratch/refused"
    done <<EOF
missing|does not exist
empty|has no manifest.json
manifest-dir|has no manifest.json
not-json|is no web extension manifest
EOF
}

# expect_same_tree <directory> <expected directory>: the same files with the same bytes.
expect_same_tree() {
    diff -r "$2" "$1" >"$scratch/diff.log" 2>&1 || fail "$1 differs from $2: $(cat "$scratch/diff.log")"
}

check_layout() {
    check_web_extension_refused

    # A web extension of our own, named relative to the working directory as `make bundle` allows.
    local own="$scratch/own-extension"
    mkdir -p "$own/scripts"
    printf '{"manifest_version": 3, "name": "t", "version": "1"}\n' >"$own/manifest.json"
    printf 'void 0;\n' >"$own/scripts/background.js"
    bundle="$scratch/own/Ondrake Download.app"
    install_bundle "$bundle" own-extension "$scratch"
    if on_macos; then
        expect_same_tree "$bundle/Contents/PlugIns/OndrakeSafariExtension.appex/Contents/Resources" "$own"
    fi
    rm -rf "$bundle"

    bundle="$scratch/prefix/Ondrake Download.app"
    install_bundle "$bundle"
    local contents="$bundle/Contents"
    local host="$contents/MacOS/ondrake-native-host"
    local appex="$contents/PlugIns/OndrakeSafariExtension.appex"

    # Exactly our files, nothing the build tree holds besides them; the extension's inside is
    # Apple's bundle format and checked by its signature.
    local expected="./Contents/MacOS/ondrake-native-host"
    if on_macos; then expected="$expected
./Contents/PlugIns/OndrakeSafariExtension.appex"; fi
    local found
    found=$(cd "$bundle" && find . -path ./Contents/PlugIns/OndrakeSafariExtension.appex -prune -print -o \
        ! -type d -print | LC_ALL=C sort)
    [ "$found" = "$expected" ] || fail "files in the bundle:
$found
expected
$expected"

    if [ ! -f "$host" ] || [ -L "$host" ]; then fail "$host is not a regular file"; fi
    local path
    for path in "$bundle" "$contents" "$contents/MacOS" "$host"; do expect_mode "$path" 755; done

    if on_macos; then
        expect_mode "$contents/PlugIns" 755
        [ -f "$appex/Contents/Info.plist" ] || fail "$appex has no Info.plist"
        expect_same_tree "$appex/Contents/Resources" "$source/safari-extension/web-extension"
        [ -x "$appex/Contents/MacOS/OndrakeSafariExtension" ] || fail "$appex has no executable"
        [ "$(plutil -extract CFBundleExecutable raw -o - "$appex/Contents/Info.plist")" = OndrakeSafariExtension ] ||
            fail "$appex: Info.plist does not name OndrakeSafariExtension"
        check_signature "$appex" "$source/safari-extension/apple/OndrakeSafariExtension.entitlements" \
            com.ondrake.download.SafariExtension
        check_signature "$host" "$source/browser-native-host/bin/ondrake-native-host.entitlements"
    elif [ -e "$contents/PlugIns" ]; then
        fail "the Safari extension is laid out although it cannot be built here"
    fi

    # The host finds its application only through the Info.plist beside its MacOS directory, and
    # only once the executable it names is there; then identification succeeds and registration
    # stops at the location, a temporary directory, before writing anything.
    local home="$scratch/home"
    mkdir "$home"
    run_host "$host" "$home" register
    expect_run "register without Info.plist" 1 "$IDENTIFICATION_FAILURE"

    add_application "$bundle" "Ondrake Download" no-executable
    run_host "$host" "$home" register
    expect_run "register with Info.plist but no main executable" 1 "$IDENTIFICATION_FAILURE"

    add_application "$bundle" "Ondrake Download"
    local verb
    for verb in register register-development; do
        run_host "$host" "$home" "$verb"
        expect_run "$verb from a bundle outside /Applications" 1 "$NOT_CANONICAL"
    done
    expect_empty_dir "$home" "registration refused"
}

check_applications() {
    if [ ! -d /Applications ]; then
        if mkdir /Applications 2>/dev/null; then
            created_applications=1
        else
            echo "skipped: cannot create /Applications (needs root here)"
            exit $SKIPPED
        fi
    elif [ ! -w /Applications ]; then
        echo "skipped: /Applications is not writable by this user"
        exit $SKIPPED
    fi

    local candidate="/Applications/ondrake-bundle-test-$$-$RANDOM.app"
    if [ -e "$candidate" ]; then
        fail "$candidate already exists"
        exit 1
    fi
    bundle=$candidate
    install_bundle "$bundle"
    add_application "$bundle" "Ondrake Test"
    local host="$bundle/Contents/MacOS/ondrake-native-host"

    local home="$scratch/home"
    mkdir "$home"
    run_host "$host" "$home" register
    expect_run "register from /Applications" 0 "$(lines \
        "firefox trust = browser-bridge@ondrake.download" \
        "chrome -> Written" "edge -> Written" "firefox -> Written" "brave -> Written" \
        "chromium -> Written" "opera -> SharesDestination" "vivaldi -> Unavailable")"

    # Every manifest points the browser at the bundled host, and the launcher's record at the
    # application's main executable.
    local support="$home/Library/Application Support" manifest
    for manifest in "Google/Chrome" "Microsoft Edge" "Mozilla" "BraveSoftware/Brave-Browser" "Chromium"; do
        manifest="$support/$manifest/NativeMessagingHosts/com.ondrake.download.json"
        grep -qxF "  \"path\": \"$host\"," "$manifest" 2>/dev/null ||
            fail "$manifest does not name $host"
    done
    expect_file_bytes "$support/OndrakeDownload/app-path" "$bundle/Contents/MacOS/Ondrake Test"

    run_host "$host" "$home" unregister
    expect_run "unregister" 0 "$(lines "removed chrome" "removed edge" "removed firefox" \
        "removed brave" "removed chromium" "removed opera")"
    local left
    left=$(find "$home" -type f)
    [ -z "$left" ] || fail "files left after unregister: $left"
}

case "$mode" in
    layout) check_layout ;;
    applications) check_applications ;;
    *)
        echo "usage: $0 layout|applications <cmake> <build dir> <source dir>" >&2
        exit 2
        ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "bundle $mode: all checks passed"
