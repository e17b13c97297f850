#!/usr/bin/env bash
# Kills the print service (SIGKILL) once per job at a random point of the job's delivery to a console,
# restarts it, and counts what the console's folder printer received: every job must be there exactly
# once and end with status 0. The console is the real session and spooler (copy into a folder); the
# service is the real program.
#   scripts/kill-proof.sh [KILLS] [SEED]   KILLS jobs and kills (default 100); SEED repeats a run's points
# Prints one line of figures per run; exits non-zero when a job was lost, duplicated or did not end well.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset dev >/dev/null
cmake --build --preset dev -j2 --target ui_session_service_tests quorvane-service >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
QT_QPA_PLATFORM=offscreen QUORVANE_KILL_ROUNDS="${1:-100}" QUORVANE_KILL_SEED="${2:-}" \
  build/dev/ui/session/ui_session_service_tests \
  --gtest_filter='SessionWithService.ServiceKillsWhileJobsAreOutLeaveEveryJobDeliveredExactlyOnce' \
  >"$log" 2>&1 || status=$?
grep -E '^kills ' "$log" || true
if [ "$status" -ne 0 ]; then
  grep -E -A4 'Failure|FAILED' "$log" | head -60
fi
exit "$status"
