#!/usr/bin/env bash
# The schema test: every message of the corpus (protocol-corpus) against docs/schema with
# ajv, a JSON Schema validator from npm.
# usage: schema_test.sh PROTOCOL-CORPUS SOURCE-DIR
# Exits 77 (skipped, with the reason) when Node.js or ajv is missing, except under CI=true, where
# a missing validator fails: scripts/install-doc-deps.sh installs it.
set -euo pipefail
corpus_tool=${1:?usage: schema_test.sh PROTOCOL-CORPUS SOURCE-DIR}
source_dir=${2:?usage: schema_test.sh PROTOCOL-CORPUS SOURCE-DIR}
here=$(cd "$(dirname "$0")" && pwd)

missing() {
  if [ "${CI:-}" = true ]; then
    echo "schema test: $* (scripts/install-doc-deps.sh installs it)" >&2
    exit 1
  fi
  echo "schema test: $* - skipped (scripts/install-doc-deps.sh installs it)"
  exit 77
}
command -v node >/dev/null 2>&1 || missing "Node.js is not installed"
[ -f "$here/node_modules/ajv/package.json" ] || missing "ajv is not installed in tools/protocol-doc/node_modules"

corpus=$(mktemp)
trap 'rm -f "$corpus"' EXIT
"$corpus_tool" "$source_dir" >"$corpus"
exec node "$here/validate.mjs" "$source_dir/docs/schema" "$corpus"
