#!/usr/bin/env bash
# Makes the README's pictures of the console under Xvfb: docs/console-connecting.png (no print service
# yet) and docs/console-connected.png (the service's printers after the first run). Everything runs in a
# temporary HOME; nothing of the user's is touched.
#   scripts/screenshots.sh [build-dir]      (default build/release, built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
if [ ! -x "$build/ui/quorvane" ] || [ ! -x "$build/print_service/quorvane-service" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc)" --target quorvane quorvane-service
  build=build/release
fi
for tool in xvfb-run import xdotool; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup.sh" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
export XDG_STATE_HOME=$work/state CUPS_SERVER=/nonexistent/screenshots/cups.sock
mkdir -p "$HOME/Dropbox" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# A port that nothing listens on yet: the service comes up on it once the connecting view is shot.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
export QUORVANE_SERVICE_PORT=$port BUILD=$build OUT=$root/docs WORK=$work
mkdir -p "$OUT"

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  shoot() {  # shoot NAME: the console window alone
    local id
    id=$(xdotool search --onlyvisible --name "^Quorvane\$" | head -1)
    import -window "$id" "$OUT/$1"
  }
  QT_QPA_PLATFORM=xcb "$BUILD/ui/quorvane" >"$WORK/console.log" 2>&1 &
  console=$!
  for _ in $(seq 50); do xdotool search --onlyvisible --name "^Quorvane\$" >/dev/null && break; sleep 0.1; done
  sleep 1
  shoot console-connecting.png
  "$BUILD/print_service/quorvane-service" --port "$QUORVANE_SERVICE_PORT" --data "$WORK/service" \
    --ipp-port 0 --ipp-listen loopback --no-dnssd \
    >"$WORK/service.log" 2>&1 &
  service=$!
  sleep 5  # the next attempt comes within 3 s; the printers follow
  shoot console-connected.png
  kill $console $service
  wait $console $service 2>/dev/null || true
'
echo "Wrote $OUT/console-connecting.png and $OUT/console-connected.png"
