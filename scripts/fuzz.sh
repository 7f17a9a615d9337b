#!/usr/bin/env bash
# Runs every fuzz target of the fuzz build (build-fuzz/bin) for FUZZ_SECONDS seconds each
# (default 60), starting from the committed seeds in fuzz/corpus/<target> and a working corpus
# in build-fuzz/runs/<target>/corpus that later runs go on from. Prints the executions per
# target and fails when any target found a crash, a leak, a sanitizer report or a broken
# invariant; the input that did it is left in build-fuzz/runs/<target>/ and named below.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz: FUZZ_SECONDS must be a positive number of seconds, not '$seconds'" >&2
  exit 2
fi

# Each target with the dictionary it mutates with (none for the frame reader: its input is
# binary lengths and bytes) and the largest input it is given: a frame body may be 65536 bytes,
# which the field limits of a capture (up to 4096 bytes a value) need room to be crossed in; the
# frame reader gets room for two whole frames.
targets=(
  "frame_fuzz::131080"
  "classify_fuzz:protocol.dict:65536"
  "app_reply_fuzz:protocol.dict:65536"
  "url_fuzz:url.dict:16384"
  "info_plist_fuzz:info_plist.dict:16384"
)

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}

failed=()
summary=()
for entry in "${targets[@]}"; do
  IFS=: read -r target dictionary max_len <<<"$entry"
  binary=build-fuzz/bin/$target
  if [ ! -x "$binary" ]; then
    echo "fuzz: $binary is not built (cmake --preset fuzz && cmake --build --preset fuzz)" >&2
    exit 2
  fi
  run=build-fuzz/runs/$target
  mkdir -p "$run/corpus"
  rm -f "$run"/crash-* "$run"/leak-* "$run"/timeout-* "$run"/oom-*
  options=(-max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$run/")
  [ -n "$dictionary" ] && options+=(-dict="fuzz/dictionaries/$dictionary")

  echo "== $target: ${seconds} s"
  "$binary" "${options[@]}" "$run/corpus" "fuzz/corpus/$target" >"$run/log" 2>&1
  status=$?
  executions=$(awk '/stat::number_of_executed_units:/ { print $2 }' "$run/log" | tail -n 1)
  features=$(grep -o 'ft: [0-9]*' "$run/log" | tail -n 1 | cut -d' ' -f2)
  if [ $status -eq 0 ]; then
    summary+=("$(printf '%-16s %12s executions %8s features  ok' "$target" "${executions:-?}" "${features:-?}")")
  else
    failed+=("$target")
    summary+=("$(printf '%-16s %12s executions %8s features  FAILED (exit %d)' "$target" "${executions:-?}" "${features:-?}" "$status")")
    # The report: the invariant or sanitizer message, the stack and the saved input.
    grep -E -A 30 'invariant broken|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|Test unit written' \
      "$run/log" | head -n 80
    for saved in "$run"/crash-* "$run"/leak-* "$run"/timeout-* "$run"/oom-*; do
      [ -e "$saved" ] && echo "fuzz: input saved as $saved; reproduce with: $binary $saved"
    done
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} target(s) failed: ${failed[*]} (logs in build-fuzz/runs/<target>/log)"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no findings in ${seconds} s each"
