#!/usr/bin/env bash
# The schema test: every message of the corpus (protocol-corpus) against docs/schema with
# ajv, a JSON Schema validator from npm.
# usage: schema_test.sh PROTOCOL-CORPUS SOURCE-DIR
# Fails, saying so, when Node.js or ajv is missing: scripts/install-node-deps.sh installs ajv from
# package-lock.json, and `make test` runs it first.
set -euo pipefail
corpus_tool=${1:?usage: schema_test.sh PROTOCOL-CORPUS SOURCE-DIR}
source_dir=${2:?usage: schema_test.sh PROTOCOL-CORPUS SOURCE-DIR}
here=$(cd "$(dirname "$0")" && pwd)

missing() {
  echo "schema test: $* (scripts/install-node-deps.sh installs it; \`make test\` runs it first)" >&2
  exit 1
}
command -v node >/dev/null 2>&1 || missing "Node.js is not installed"
[ -f "$here/node_modules/ajv/package.json" ] || missing "ajv is not installed in tools/protocol-doc/node_modules"

corpus=$(mktemp)
trap 'rm -f "$corpus"' EXIT
"$corpus_tool" "$source_dir" >"$corpus"
exec node "$here/validate.mjs" "$source_dir/docs/schema" "$corpus"
