#!/usr/bin/env bash
# Runs the IPP fuzz target (preset "fuzz": ASan and UBSan) for a long time under watch, and shows in figures
# that the service it fuzzes stays answering and its memory stays flat:
#   scripts/fuzz-watch.sh [SECONDS] [PROBE_INTERVAL]     (default 3600 s, a probe every 5 s)
# Every PROBE_INTERVAL seconds the watcher asks the service's JSON-RPC port for "attributes" and its IPP port
# for Get-Printer-Attributes (the target writes both ports to the file named by QUORVANE_FUZZ_PORTS after
# each start of its service), each bounded by 2 s, and samples the fuzzing process's resident memory. The
# target starts its service anew every 250 inputs; a probe that finds the ports gone then tries the new
# ones, and its time counts from its first attempt. A finding (crash, sanitizer report, timeout) is kept in
# the run's folder and the fuzzer goes on from the same corpus until the time is up.
# Everything goes to build/fuzz/watch/<UTC time>/: fuzz-N.log (libFuzzer's output of each stretch),
# probes.tsv (one line per probe), findings/ and summary.txt, which the script prints at the end. Exits
# non-zero when there was a finding or a probe failed or took longer than 2 s.
set -euo pipefail
cd "$(dirname "$0")/.."

duration=${1:-3600}
interval=${2:-5}
target=fuzz_ipp_requests
binary=build/fuzz/fuzz/$target

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "$target"

run=build/fuzz/watch/$(date -u +%Y%m%dT%H%M%SZ)
mkdir -p "$run/findings" "$run/corpus"
ports_file=$run/ports
probes=$run/probes.tsv
printf 'seconds\tpid\trss_kb\tjsonrpc_ms\tipp_ms\tretried\tresult\n' >"$probes"
cat >"$run/get-printer-attributes.test" <<'EOF'
{
  NAME "Get-Printer-Attributes is answered"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes all,media-col-database
  STATUS successful-ok
  EXPECT printer-state
}
EOF

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# "attributes" over JSON-RPC (netstring framing) on 127.0.0.1:$1; succeeds when an answer with a result
# arrives within 2 s.
probe_jsonrpc() {
  timeout 2 bash -c '
    exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
    request="{\"id\":1,\"method\":\"attributes\"}"
    printf "%d:%s," "${#request}" "$request" >&3
    IFS= read -r -d ":" length <&3 || exit 1
    IFS= read -r -N "$((length + 1))" answer <&3 || exit 1
    [[ $answer == *"\"result\""* ]]' probe "$1" 2>/dev/null
}

# Get-Printer-Attributes on 127.0.0.1:$1 for the printer at resource $2, within 2 s.
probe_ipp() {
  timeout 2 ipptool -q -T 2 "ipp://127.0.0.1:$1$2" "$run/get-printer-attributes.test" 2>/dev/null
}

# Runs `probe_$1` against the ports in the ports file; when it fails and the file changes within 2 s of the
# first attempt (the target restarted its service), once more against the new ports. Prints the time taken
# in ms and whether it retried; fails when no attempt succeeded within 2 s.
timed_probe() {
  local kind=$1 start ports jsonrpc ipp resource retried=0 took
  start=$(now_ms)
  ports=$(cat "$ports_file" 2>/dev/null || true)
  for attempt in 1 2; do
    read -r jsonrpc ipp resource <<<"$ports" || true
    if { [ "$kind" = jsonrpc ] && probe_jsonrpc "$jsonrpc"; } ||
      { [ "$kind" = ipp ] && probe_ipp "$ipp" "$resource"; }; then
      took=$(($(now_ms) - start))
      echo "$took $retried"
      [ "$took" -le 2000 ]
      return
    fi
    [ "$attempt" = 1 ] || break
    retried=1
    while [ "$(cat "$ports_file" 2>/dev/null || true)" = "$ports" ] && [ $(($(now_ms) - start)) -lt 2000 ]; do
      sleep 0.05
    done
    ports=$(cat "$ports_file" 2>/dev/null || true)
  done
  echo "$(($(now_ms) - start)) $retried"
  return 1
}

export QUORVANE_FUZZ_PORTS=$ports_file
# See scripts/fuzz.sh: the allocation stacks ASan records would grow without end. A quarantine of 64 MB
# (256 by default) fills in the first minutes, so that the resident memory sampled afterwards shows what
# the service and the fuzzer hold, not freed blocks held back for use-after-free checks.
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=4:quarantine_size_mb=64}"
began=$(date +%s)
stretch=0
findings=0
failed_probes=0
while :; do
  left=$((duration - ($(date +%s) - began)))
  [ "$left" -gt 0 ] || break
  stretch=$((stretch + 1))
  rm -f "$ports_file"
  # Inputs that once crashed the target are not re-run here: scripts/fuzz.sh does that.
  "$binary" "$run/corpus" "fuzz/corpus/$target" -max_total_time="$left" -timeout=30 -rss_limit_mb=2048 \
    -close_fd_mask=1 -artifact_prefix="$run/findings/" -print_final_stats=1 2>"$run/fuzz-$stretch.log" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    sleep "$interval"
    kill -0 "$pid" 2>/dev/null || break
    [ -s "$ports_file" ] || continue
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    result=ok
    jsonrpc=$(timed_probe jsonrpc) || result=jsonrpc-failed
    ipp=$(timed_probe ipp) || result=$([ "$result" = ok ] && echo ipp-failed || echo both-failed)
    read -r jsonrpc_ms jsonrpc_retried <<<"$jsonrpc"
    read -r ipp_ms ipp_retried <<<"$ipp"
    printf '%d\t%d\t%s\t%s\t%s\t%s\t%s\n' "$(($(date +%s) - began))" "$pid" "$rss" "$jsonrpc_ms" "$ipp_ms" \
      "$((jsonrpc_retried + ipp_retried))" "$result" >>"$probes"
  done
  if ! wait "$pid"; then
    findings=$((findings + 1))
    echo "=== finding in stretch $stretch:"
    grep -E "^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix)" "$run/fuzz-$stretch.log" | head -5 || true
  fi
done

failed_probes=$(awk -F'\t' 'NR > 1 && $7 != "ok"' "$probes" | wc -l)
{
  echo "run: $run, ${duration} s, a probe every ${interval} s"
  echo "stretches (fuzzer runs): $stretch, findings: $findings"
  awk '/^stat::number_of_executed_units/ {n += $2} END {print "executions:", n}' "$run"/fuzz-*.log
  awk '/^stat::peak_rss_mb/ {if ($2 > p) p = $2} END {print "peak RSS (libFuzzer):", p, "MB"}' "$run"/fuzz-*.log
  awk -F'\t' 'NR > 1 {rss[++n] = $3; if ($3 > peak) peak = $3; if ($4 > j) j = $4; if ($5 > i) i = $5;
                      if ($6 > 0) r++}
              END {if (n == 0) {print "no probes"; exit}
                   printf "probes: %d (%d retried after a restart of the service)\n", n, r
                   printf "RSS at start/middle/end: %.0f / %.0f / %.0f MB, peak sampled %.0f MB\n",
                          rss[1] / 1024, rss[int((n + 1) / 2)] / 1024, rss[n] / 1024, peak / 1024
                   printf "slowest answer: JSON-RPC %d ms, Get-Printer-Attributes %d ms\n", j, i}' "$probes"
  echo "failed or late probes: $failed_probes"
  ls "$run/findings"
} | tee "$run/summary.txt"
[ "$findings" -eq 0 ] && [ "$failed_probes" -eq 0 ]
