#!/usr/bin/env bash
# Installs the build into a temporary tree, as `cmake --install` and the Debian package would, and checks
# what a desktop, a software centre, systemd, man and dpkg make of it:
#   check_install.sh BUILD_DIR WITH_CONSOLE(0|1)
# Each check prints "ok: ..." or "FAILED: ..."; the script ends with "N passed, N failed".
set -uo pipefail
build=$1
with_console=$2

work=$(mktemp -d)
service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
check() {  # check NAME COMMAND...: runs the command, its output kept in the log when it fails
  local name=$1
  shift
  if out=$("$@" 2>&1); then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    echo "$out" | sed 's/^/    /'
    failed=$((failed + 1))
  fi
}

# A prefix of its own (not DESTDIR) so that the paths written at install time point at files that exist.
prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config \
       XDG_DATA_HOME=$work/home/.local/share XDG_STATE_HOME=$work/home/.local/state
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

expected=(
  bin/quorvane-service
  libexec/quorvane/quorvane-print
  share/applications/quorvane.desktop
  etc/xdg/autostart/quorvane.desktop
  share/metainfo/software.tessaly.Quorvane.metainfo.xml
  lib/systemd/user/quorvane-service.service
  lib/systemd/system/quorvane-service.service
  lib/sysusers.d/quorvane-service.conf
  share/man/man1/quorvane.1.gz
  share/man/man1/quorvane-service.1.gz
  share/doc/quorvane/copyright
)
if [ "$with_console" = 1 ]; then
  expected+=(bin/quorvane share/quorvane/help/index.html share/icons/hicolor/scalable/apps/quorvane.svg)
  for size in 16 22 24 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x${size}/apps/quorvane.png"); done
fi
missing=()
for f in "${expected[@]}"; do [ -e "$prefix/$f" ] || missing+=("$f"); done
check "installed tree holds every file" test ${#missing[@]} -eq 0 || printf '    missing: %s\n' "${missing[@]}"

check "desktop entry is valid" desktop-file-validate "$prefix/share/applications/quorvane.desktop"
check "autostart entry is valid" desktop-file-validate "$prefix/etc/xdg/autostart/quorvane.desktop"
check "AppStream metadata is valid" appstreamcli validate --no-net \
  "$prefix/share/metainfo/software.tessaly.Quorvane.metainfo.xml"
if command -v systemd-analyze >/dev/null; then
  check "user unit verifies" env MANPATH="$prefix/share/man" \
    systemd-analyze verify --user "$prefix/lib/systemd/user/quorvane-service.service"
  check "system unit verifies" env MANPATH="$prefix/share/man" \
    systemd-analyze verify "$prefix/lib/systemd/system/quorvane-service.service"
  # The sandbox as systemd rates it (lower is tighter); shown, and failed when it slips past "OK".
  security() {
    systemd-analyze security --offline=yes --threshold=39 "$prefix/lib/systemd/system/quorvane-service.service" \
      | tail -1
  }
  check "system unit's sandbox rates an exposure of at most 3.9" security
  systemd-analyze security --offline=yes "$prefix/lib/systemd/system/quorvane-service.service" 2>/dev/null \
    | tail -1 | sed 's/^/system unit: /'
  # systemd-sysusers reads the account as the package installs it.
  check "service account file reads" systemd-sysusers --dry-run "$prefix/lib/sysusers.d/quorvane-service.conf"
else
  echo "skipped: user and system units (systemd-analyze is not installed)"
fi
for page in quorvane quorvane-service; do
  render() {
    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  }
  check "man page $page renders without warnings" render
done

# The installed service starts from the tree and answers "attributes" over its netstring JSON-RPC.
data=$work/service-data
# Its IPP printers answer on loopback only and are not advertised: other tests' schedulers must not see them.
"$prefix/bin/quorvane-service" --port 0 --ipp-port 0 --ipp-listen loopback --no-dnssd --data "$data" \
  --log-level 1 >"$work/service.log" 2>&1 &
service_pid=$!
attributes() {
  local port="" i
  for i in $(seq 100); do
    port=$(cat "$data/service.port" 2>/dev/null) && [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "no service.port"; cat "$work/service.log"; return 1; }
  exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
  local request='{"id":1,"jsonrpc":"2.0","method":"attributes"}'
  printf '%d:%s,' "${#request}" "$request" >&3
  # A netstring: the length, a colon, that many bytes, a comma.
  local length reply
  IFS= read -r -t 5 -d ':' length <&3 && IFS= read -r -t 5 -N "$length" reply <&3
  exec 3<&-
  echo "$reply"
  [[ "$reply" == *'"result":[0,{'* ]]
}
check "installed service answers attributes" attributes

if [ "$with_console" = 1 ]; then
  # Port 1 answers nobody: the console stays on its connecting view. HOME and the runtime folder are the
  # test's, so no console of the user's is asked instead.
  export QUORVANE_SERVICE_PORT=1

  # The installed console finds its help in the tree it was installed in and opens it with the desktop's
  # viewer, here a stand-in that records what it was asked to open.
  mkdir -p "$work/viewer"
  printf '#!/bin/sh\necho "$1" >"%s/opened"\n' "$work" >"$work/viewer/xdg-open"
  chmod +x "$work/viewer/xdg-open"
  open_help() {
    PATH="$work/viewer:$PATH" QT_QPA_PLATFORM=offscreen "$prefix/bin/quorvane" --show-help \
      >"$work/console.log" 2>&1 &
    local pid=$! i opened=""
    for i in $(seq 100); do
      opened=$(cat "$work/opened" 2>/dev/null) && [ -n "$opened" ] && break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "opened: '$opened'"
    cat "$work/console.log"
    [ "$(readlink -f "${opened#file://}")" = "$(readlink -f "$prefix/share/quorvane/help/index.html")" ]
  }
  check "installed console opens its installed help" open_help

  # In a real window (Xvfb), the installed console shows its connecting picture, compiled into the program,
  # and its window carries the class that the desktop entry's StartupWMClass names.
  window() {
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
      "$1" >"$3" 2>&1 & pid=$!
      id=""
      for i in $(seq 100); do
        id=$(xdotool search --class "^$(sed -n "s/^StartupWMClass=//p" "$4")\$" 2>/dev/null | head -1)
        [ -n "$id" ] && break
        sleep 0.1
      done
      sleep 1
      import -window root "$2"
      kill $pid
      [ -n "$id" ] || { echo "no window of the class named in the desktop entry"; exit 1; }' \
      _ "$prefix/bin/quorvane" "$work/window.png" "$work/console.log" "$prefix/share/applications/quorvane.desktop" \
      || { cat "$work/console.log"; return 1; }
    # Pixels of the picture's blue (#3674df, the printer and the dots between phone and printer).
    local blue
    blue=$(convert "$work/window.png" -alpha off -fill black +opaque "#3674df" -fill white -opaque "#3674df" \
      -format "%[fx:round(mean*w*h)]" info:)
    echo "picture pixels: $blue"
    [ "$blue" -gt 200 ]
  }
  check "installed console draws its window with its images" window
fi

# The Debian package: built by CPack from the same build, checked by lintian, contents listed.
package() {
  (cd "$build" && cpack -G DEB -B "$work/deb") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; return 1; }
  local deb
  deb=$(ls "$work"/deb/quorvane_*.deb) || return 1
  dpkg-deb -I "$deb" | sed -n '/Package:/,$p'
  dpkg-deb -c "$deb" | awk '{print $6}'
  # The account, the system unit and the scripts that make the one and enable the other are in it.
  local member
  for member in ./usr/lib/systemd/system/quorvane-service.service ./usr/lib/sysusers.d/quorvane-service.conf; do
    dpkg-deb -c "$deb" | awk '{print $6}' | grep -qx "$member" || { echo "missing from the package: $member"; return 1; }
  done
  dpkg-deb -I "$deb" postinst | grep -q 'systemd-sysusers quorvane-service.conf' || { echo "no account made"; return 1; }
  dpkg-deb -I "$deb" postinst | grep -q 'deb-systemd-helper enable quorvane-service.service' ||
    { echo "system unit not enabled"; return 1; }
  # Errors fail the check; warnings are listed (each one left is explained in the README).
  lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v '^running with root' >"$work/lintian.log"
  ! grep -q '^E:' "$work/lintian.log"
}
if command -v lintian >/dev/null && command -v cpack >/dev/null; then
  check "Debian package builds and lintian finds no error" package
  cat "$work/lintian.log" 2>/dev/null | sed 's/^/lintian: /'
else
  echo "skipped: Debian package (lintian or cpack missing)"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
