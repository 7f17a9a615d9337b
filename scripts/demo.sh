#!/usr/bin/env bash
# The demo: a real host session, fed what a browser extension sends, against the reference
# application peer. Everything happens under a throwaway HOME that is removed at the end, and no
# process is left behind.
#
# The application is not running at first. The host finds nobody on its socket, starts "the
# application" (ONDRAKE_DOWNLOAD_EXE: a small script that starts app-peer in the background),
# and its retry finds it listening; the later messages reach the running peer.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN="$PWD/build/bin"
for program in ondrake-native-host nm-client app-peer; do
  [ -x "$BIN/$program" ] || { echo "demo: $BIN/$program is missing; run make build" >&2; exit 1; }
done

# The origin Chrome passes to the host when our extension connects, with the extension id from the
# one place that names it for the host.
EXTENSION_ID=$(sed -n 's/^inline constexpr std::string_view CHROME_EXTENSION_ID = "\([a-p]\{32\}\)";$/\1/p' \
  browser-native-host/installation/registration.hpp)
[ -n "$EXTENSION_ID" ] || { echo "demo: no CHROME_EXTENSION_ID in registration.hpp" >&2; exit 1; }

# Short on purpose: the socket path under it must fit a Unix socket address (104 bytes on macOS).
DEMO_HOME=$(mktemp -d /tmp/ondrake-demo.XXXXXX)
SOCKET="$DEMO_HOME/Library/Application Support/OndrakeDownload/ipc/browser.sock"
PEER_PID_FILE="$DEMO_HOME/app-peer.pid"

stop_peer() {
  [ -s "$PEER_PID_FILE" ] || return 0
  local pid
  pid=$(cat "$PEER_PID_FILE")
  kill -TERM "$pid" 2>/dev/null || return 0
  # The peer is not our child (the host started it detached): poll until it is gone, or only a
  # zombie waiting for its new parent to collect it.
  local state
  for _ in $(seq 100); do
    state=$(ps -o stat= -p "$pid" 2>/dev/null) || return 0
    case "$state" in Z*) return 0 ;; esac
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
}
cleanup() {
  stop_peer
  rm -rf "$DEMO_HOME"
}
trap cleanup EXIT

# What the host starts when nobody listens: it is run with no arguments and the null device on
# its standard streams, so everything it needs is written into it here.
cat >"$DEMO_HOME/start-application" <<EOF
#!/bin/sh
"$BIN/app-peer" --socket "$SOCKET" --log "$DEMO_HOME/application.log" </dev/null >/dev/null 2>&1 &
echo \$! >"$PEER_PID_FILE"
EOF
chmod +x "$DEMO_HOME/start-application"


heading() { printf '\n== %s\n' "$1"; }

echo "ondrake demo: a browser's messages through ondrake-native-host to the application"
echo "  HOME=$DEMO_HOME (removed at the end)"
echo "  the application is not running; ONDRAKE_DOWNLOAD_EXE starts the reference peer"

heading "Messages (>) and the host's replies (<)"
started=$(date +%s%N 2>/dev/null || echo 0)
status=0
HOME="$DEMO_HOME" ONDRAKE_DOWNLOAD_EXE="$DEMO_HOME/start-application" \
  "$BIN/nm-client" --transcript --stderr "$DEMO_HOME/host.log" "$PWD/scripts/demo-messages.txt" \
  -- "chrome-extension://$EXTENSION_ID/" 2>"$DEMO_HOME/nm-client.log" || status=$?
finished=$(date +%s%N 2>/dev/null || echo 0)

heading "What the application received (the reference peer's log)"
if [ -s "$DEMO_HOME/application.log" ]; then
  python3 - "$DEMO_HOME/application.log" <<'EOF'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    entry = json.loads(line)
    print(f"{entry['kind']}: {json.dumps(entry['received'], ensure_ascii=False, separators=(',', ':'))}")
    print(f"  answered: {json.dumps(entry['reply'], separators=(',', ':'))}")
EOF
else
  echo "(nothing)"
fi

heading "The host's log (its standard error)"
cat "$DEMO_HOME/host.log"
cat "$DEMO_HOME/nm-client.log"

# date +%N is GNU's; elsewhere the figure is left out.
if [[ "$started$finished" =~ ^[0-9]+$ ]] && [ "$started" != 0 ]; then
  printf '\nThe session took %d ms, the application start included.\n' $(((finished - started) / 1000000))
fi
exit "$status"
