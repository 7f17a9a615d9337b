#!/usr/bin/env bash
# The demo: a real host session against the reference application peer.
# The session and the peer are still being built; until then this says what the demo will show.
set -euo pipefail
cat <<'TXT'
ondrake demo (preview)
  Once the session lands, this runs build/bin/ondrake-native-host under a throwaway HOME, with the
  reference application peer (build/bin/app-peer) listening on the per-user socket, and prints:
    - each browser message and the host's reply,
    - what the application received,
    - the host's log lines.
TXT
