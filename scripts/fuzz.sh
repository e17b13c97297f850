#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each one: first on its kept regression cases, then from its seed corpus for a bounded time.
#   scripts/fuzz.sh [SECONDS]        each target for SECONDS (default 20)
#   scripts/fuzz.sh --runs N         each target for N executions instead (e.g. 10000000)
# New inputs go to a temporary folder, never into the repository's corpus. Exits non-zero when a target
# crashes, leaks or hangs; the input that did it is left in build/fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time="${1:-20}")
if [ "${1:-}" = "--runs" ]; then
  limit=(-runs="${2:?--runs needs a count}")
fi

# AddressSanitizer records the allocation and release stack of every block in a table that never shrinks.
# The JSON reader and the JSON value's destructor recurse through whatever mix of arrays and objects an
# input nests, so with whole stacks nearly every input adds stacks never seen before: about 1 KB per run,
# which reaches libFuzzer's 2 GB limit after two million runs. Four frames keep that table small and still
# name the caller of each allocation; with fewer than two the leak check reports nothing at all (it drops a
# leak whose stack names no caller). Run a finding again with ASAN_OPTIONS=malloc_context_size=30 for the
# allocation's whole stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=4}"

targets=(fuzz_netstring fuzz_console_dispatch fuzz_records fuzz_service_methods fuzz_raster_pdf fuzz_ipp_requests)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "${targets[@]}"; do
  binary=build/fuzz/fuzz/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$findings" "$scratch/$target"
  # Inputs that once crashed a target stay as cases it must pass.
  if compgen -G "fuzz/regressions/$target/*" >/dev/null; then
    echo "=== $target: regression cases"
    "$binary" -runs=1 fuzz/regressions/"$target"/* || status=1
  fi
  echo "=== $target: ${limit[*]}"
  # The service under test writes its own log; only libFuzzer's report is wanted here.
  if ! "$binary" "$scratch/$target" "fuzz/corpus/$target" "${limit[@]}" -timeout=30 -rss_limit_mb=2048 \
      -close_fd_mask=1 -artifact_prefix="$findings/" -print_final_stats=1 2>"$scratch/$target.log"; then
    status=1
  fi
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|Done|==[0-9]+==ERROR|SUMMARY)" \
    "$scratch/$target.log" || true
  if [ "$status" -ne 0 ]; then tail -40 "$scratch/$target.log"; fi
done
exit "$status"
