#!/usr/bin/env bash
# Sets everything up, builds the release build and runs the print service with the console.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

# The service offers every CUPS queue of the machine; start the scheduler when nothing else did (no systemd).
if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
  if [ "$(id -u)" -eq 0 ] && command -v cupsd >/dev/null; then
    cupsd && sleep 1
  else
    echo "CUPS is not running: the print service will offer no CUPS printer." >&2
  fi
fi

bin=build/release
if [ ! -x "$bin/print_service/quorvane-service" ]; then
  echo "The print service (quorvane-service) is not built yet." >&2
  exit 1
fi
"$bin/print_service/quorvane-service" --port "${QUORVANE_SERVICE_PORT:-6631}" &
service=$!
trap 'kill $service 2>/dev/null || true' EXIT
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "The console (quorvane) needs a desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
  echo "The print service keeps running on 127.0.0.1:${QUORVANE_SERVICE_PORT:-6631}; Ctrl-C stops it."
  wait $service
elif [ -x "$bin/ui/quorvane" ]; then
  "$bin/ui/quorvane" "$@"
else
  echo "The console (quorvane) is not built yet; the print service runs on 127.0.0.1:6631. Ctrl-C stops it."
  wait $service
fi
