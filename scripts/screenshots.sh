#!/usr/bin/env bash
# Makes the README's pictures of the console under Xvfb: docs/console-connecting.png (no print service
# yet), docs/console-connected.png (the service's printers after the first run), docs/notification.png (a
# document's notice as dunst draws it) and docs/recent-documents.png (Recent Documents with a few documents,
# one of them failed). Everything runs in a temporary HOME on a private session bus; nothing of the user's is
# touched.
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
for tool in xvfb-run import xdotool dbus-run-session dunst dunstctl; do
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

# Documents a phone might send: a PDF and a JPEG.
printf '%s\n' '%PDF-1.4' '1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj' \
  '2 0 obj <</Type/Pages/Kids[3 0 R]/Count 1>> endobj' '3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>> endobj' \
  'trailer <</Root 1 0 R>>' '%%EOF' >"$work/Quarterly report.pdf"
convert -size 64x48 xc:skyblue "$work/Beach.jpg"
cp "$work/Quarterly report.pdf" "$work/Boarding pass.pdf"
cp "$work/Quarterly report.pdf" "$work/Lease.pdf"

dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
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

  # A notice as dunst draws it (top right of the screen), and Recent Documents opened by a click on a notice.
  dunst >"$WORK/dunst.log" 2>&1 &
  dunst=$!
  sleep 1
  submit() {  # submit FILE USER DEVICE
    "$BUILD/print_service/quorvane-service" submit --port "$QUORVANE_SERVICE_PORT" --printer send_to_dropbox \
      --user "$2" --device-address "$3" --wait "$1" >/dev/null || true
  }
  submit "$WORK/Boarding pass.pdf" maria 192.168.1.31
  sleep 11  # past a burst: the next notice is one of its own
  submit "$WORK/Beach.jpg" tom 192.168.1.40
  sleep 11
  submit "$WORK/Quarterly report.pdf" anna 192.168.1.23
  sleep 1.5
  import -window root -crop 340x140+940+0 +repage "$OUT/notification.png"
  sleep 10
  # The folder is gone (a file stands in its place): the next document cannot be kept.
  mv "$HOME/Dropbox" "$HOME/Dropbox.away" && touch "$HOME/Dropbox"
  submit "$WORK/Lease.pdf" anna 192.168.1.23
  rm "$HOME/Dropbox" && mv "$HOME/Dropbox.away" "$HOME/Dropbox"
  sleep 1.5
  dunstctl action 0
  for _ in $(seq 50); do xdotool search --onlyvisible --name "^Recent Documents\$" >/dev/null && break; sleep 0.1; done
  sleep 1
  import -window "$(xdotool search --onlyvisible --name "^Recent Documents\$" | head -1)" "$OUT/recent-documents.png"
  kill $dunst
  kill $console $service
  wait $console $service 2>/dev/null || true
'
echo "Wrote console-connecting.png, console-connected.png, notification.png and recent-documents.png in $OUT"
