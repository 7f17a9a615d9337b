#!/usr/bin/env bash
# Formats every tracked C, C++ and Objective-C++ file in place with the repository's .clang-format.
#   scripts/format.sh           rewrite the files
#   scripts/format.sh --check   change nothing; list the files that would change and exit 1 if any
# CLANG_FORMAT names another clang-format binary; the layout is tuned for clang-format 14.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}

check=false
case "${1:-}" in
  "") ;;
  --check) check=true ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

mapfile -d '' files < <(git ls-files -z -- '*.c' '*.h' '*.cpp' '*.hpp' '*.mm')

if ! $check; then
  printf '%s\0' "${files[@]}" | xargs -0 -r "$clang_format" -i --style=file
  exit 0
fi

unformatted=0
for file in "${files[@]}"; do
  if ! "$clang_format" --style=file "$file" | cmp -s - "$file"; then
    echo "$file"
    unformatted=1
  fi
done
exit "$unformatted"
