#!/usr/bin/env bash
# The extension client's tests: `behaviour` runs the *.test.js files with Node's test runner against
# fake browser runtimes, `types` compiles test/types/example.ts against the generated declarations.
# Both need Node.js and the kit's development packages (ajv, typescript) in
# extension-client/node_modules, which scripts/install-node-deps.sh installs from package-lock.json
# (`make test` runs it); without them the test fails and says so.
# usage: run.sh behaviour|types
set -euo pipefail
kit=$(cd "$(dirname "$0")/.." && pwd)

missing() {
  echo "extension-client: $* (scripts/install-node-deps.sh installs it; \`make test\` runs it first)" >&2
  exit 1
}
command -v node >/dev/null 2>&1 || missing "Node.js is not installed"
for package in ajv typescript; do
  [ -f "$kit/node_modules/$package/package.json" ] || missing "$package is not installed in extension-client/node_modules"
done

case "${1:-}" in
  behaviour) exec node --test "$kit"/test/*.test.js ;;
  types) exec node "$kit/node_modules/typescript/bin/tsc" --noEmit --project "$kit/test/types/tsconfig.json" ;;
  *) echo "usage: run.sh behaviour|types" >&2; exit 2 ;;
esac
