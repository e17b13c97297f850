#!/usr/bin/env bash
# A real CUPS with a virtual IPP Everywhere printer for the print tests.
#
#   scripts/cups-test-env.sh start ENVFILE   starts what is missing and writes ENVFILE
#   scripts/cups-test-env.sh stop  ENVFILE   removes the queue of ENVFILE and stops what was started for it
#
# `start` makes sure the system bus, avahi-daemon and cupsd run (starting them, as root, when they do not),
# starts `ippeveprinter` on a free 127.0.0.1 port, keeping every document it receives in a fresh temporary
# folder, and adds a CUPS queue of its own for it. Every start gets its own queue name, port and folder, so
# several runs may share one cupsd at the same time. The daemons are shared: the script counts the runs
# that use them (one entry per live virtual printer) and the last `stop` ends only the daemons that this
# script started; a cupsd that was already running (a developer's) is never stopped. A run whose caller
# (ctest) died before its `stop` is cleaned up by the next `start` or `stop`: its queue is removed and its
# virtual printer ended. Processes are recognised by id and start time, so a reused id is never ended.
#
# ENVFILE holds KEY=VALUE lines:
#   QV_CUPS_AVAILABLE=1|0        0 when no working queue could be made; QV_CUPS_REASON then says why
#   QV_CUPS_QUEUE                the CUPS queue name
#   QV_CUPS_SPOOL                the folder where the virtual printer keeps received documents
#   QV_CUPS_PRINTER_URI          the virtual printer's own URI
#   QV_CUPS_QUEUE_URI            the queue's URI on the local cupsd (for ipptool)
#   QV_CUPS_IPPEVE_PID           the virtual printer's process id
# `start` exits 0 in both cases so that the tests run and report themselves skipped with the reason;
# it exits 2 only on wrong usage.
set -uo pipefail

usage() {
  echo "usage: $0 start|stop ENVFILE" >&2
  exit 2
}
[ $# -eq 2 ] || usage
command=$1
envfile=$2

state_dir="${TMPDIR:-/tmp}/quorvane-cups-test-env-$(id -u)"
mkdir -p "$state_dir/users" || exit 1
log="$state_dir/log"

note() { echo "cups-test-env: $*" | tee -a "$log" >&2; }

# Every change to the shared state happens under one lock.
exec 9>"$state_dir/lock"
flock 9

write_env() {
  local tmp="$envfile.tmp.$$"
  mkdir -p "$(dirname "$envfile")"
  printf '%s\n' "$@" >"$tmp" && mv -f "$tmp" "$envfile"
}

unavailable() {
  note "unavailable: $1"
  write_env "QV_CUPS_AVAILABLE=0" "QV_CUPS_REASON=$1"
  exit 0
}

is_root() { [ "$(id -u)" -eq 0 ]; }

# A process that has exited but was not yet collected by its parent counts as gone.
alive() {
  [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}

# The start time of process $1 (clock ticks since boot), empty when there is no such process.
started_at() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  # The fields after the command name, which may hold spaces; the start time is field 22.
  set -- ${stat##*) }
  echo "${20:-}"
}

# Whether process $1 is alive and is still the one that started at $2 (not a later one with the same id).
same_process() {
  alive "$1" && [ -n "${2:-}" ] && [ "$(started_at "$1")" = "$2" ]
}

# Sends SIGTERM to process $1 (started at $2) and waits up to 5 seconds, then SIGKILL.
end_process() {
  same_process "$1" "${2:-}" || return 0
  kill "$1" 2>/dev/null
  wait_for 25 eval "! same_process $1 ${2:-}" || kill -9 "$1" 2>/dev/null
}

# Removes the queue and spool folder of a run and ends its virtual printer.
remove_run() { # queue spool ippeve-pid ippeve-start
  if [ -n "$1" ]; then
    cancel -a -x "$1" 2>/dev/null
    lpadmin -x "$1" 2>/dev/null
  fi
  end_process "$3" "$4"
  case "$2" in "${TMPDIR:-/tmp}"/quorvane-ipp-*) rm -rf "$2" "$2.log" ;; esac
}

# Cleans up after runs whose virtual printer is gone or whose caller died before its stop. Each entry is
# named after the virtual printer's id and holds: queue, spool, printer start, caller id, caller start.
prune_users() {
  local entry queue spool start owner owner_start
  for entry in "$state_dir"/users/*; do
    [ -e "$entry" ] || continue
    read -r queue spool start owner owner_start <"$entry"
    if same_process "$(basename "$entry")" "$start" && same_process "$owner" "$owner_start"; then continue; fi
    note "cleaning up after an ended run: queue ${queue:-?}"
    remove_run "$queue" "$spool" "$(basename "$entry")" "$start"
    rm -f "$entry"
  done
}

users_left() { compgen -G "$state_dir/users/*" >/dev/null; }

remember_started() { echo "$1 $2 $(started_at "$2")" >>"$state_dir/started"; }

dbus_running() {
  dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetId \
    >/dev/null 2>&1
}
avahi_running() { avahi-daemon --check 2>/dev/null && alive "$(cat /run/avahi-daemon/pid 2>/dev/null)"; }
cupsd_running() { lpstat -r 2>/dev/null | grep -q 'is running'; }

wait_for() {
  local tries=$1
  shift
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

start_daemons() {
  command -v cupsd >/dev/null && command -v ippeveprinter >/dev/null && command -v lpadmin >/dev/null ||
    unavailable "cups, cups-client or cups-ipp-utils is not installed (run scripts/setup.sh)"

  if ! dbus_running; then
    is_root || unavailable "the system bus (dbus-daemon --system) is not running and starting it needs root"
    mkdir -p /run/dbus
    # A pid file left by a bus that no longer answers stops a new bus from starting.
    rm -f /run/dbus/pid
    local pid
    pid=$(dbus-daemon --system --fork --print-pid 2>>"$log" </dev/null 9>&-) ||
      unavailable "dbus-daemon --system did not start (see $log)"
    remember_started dbus "$pid"
    wait_for 25 dbus_running || unavailable "the system bus did not come up"
  fi

  if ! avahi_running; then
    is_root || unavailable "avahi-daemon is not running and starting it needs root"
    rm -f /run/avahi-daemon/pid
    avahi-daemon -D >>"$log" 2>&1 </dev/null 9>&- || unavailable "avahi-daemon did not start (see $log)"
    wait_for 25 avahi_running || unavailable "avahi-daemon did not come up"
    remember_started avahi "$(cat /run/avahi-daemon/pid 2>/dev/null)"
  fi

  if ! cupsd_running; then
    is_root || unavailable "cupsd is not running and starting it needs root"
    # In the foreground under setsid, so that its id is known; its output goes to the log, never to the
    # caller's pipe (CTest waits for that pipe to close).
    setsid cupsd -f >>"$log" 2>&1 </dev/null 9>&- &
    local pid=$!
    remember_started cupsd "$pid"
    wait_for 50 cupsd_running || unavailable "cupsd did not come up (see /var/log/cups/error_log)"
  fi
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  prune_users
  start_daemons

  local spool queue port pid=""
  spool=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-ipp-XXXXXX") || unavailable "no temporary folder"
  chmod 755 "$spool"
  queue="quorvane-test-$$-$RANDOM"

  # Ports are picked at random and tried; one that another program took in between just fails to bind.
  local attempt
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    port_open "$port" && continue
    # -c /bin/true finishes each job at once (without it the printer "prints" for 5 to 15 seconds);
    # -s 10,10 announces colour; -2 two-sided printing; -n localhost listens on loopback only.
    setsid ippeveprinter -r off -k -d "$spool" -p "$port" -n localhost -s 10,10 -2 -c /bin/true \
      -f application/pdf,image/jpeg,image/png "Quorvane Test $queue" >>"$spool.log" 2>&1 </dev/null 9>&- &
    pid=$!
    # Recorded at once (with the queue it will get), so that a start killed from here on leaves nothing
    # that a later run cannot clean up. The caller (ctest) runs the matching stop.
    echo "$queue $spool $(started_at "$pid") $PPID $(started_at "$PPID")" >"$state_dir/users/$pid"
    if wait_for 50 port_open "$port" && alive "$pid"; then break; fi
    kill "$pid" 2>/dev/null
    rm -f "$state_dir/users/$pid"
    pid=""
  done
  if [ -z "$pid" ]; then
    rm -rf "$spool" "$spool.log"
    unavailable "ippeveprinter did not start (avahi-daemon and the system bus must run)"
  fi

  local out
  if ! out=$(lpadmin -p "$queue" -E -v "ipp://127.0.0.1:$port/ipp/print" -m everywhere \
    -o printer-error-policy=abort-job 2>&1); then
    kill "$pid" 2>/dev/null
    rm -f "$state_dir/users/$pid"
    rm -rf "$spool" "$spool.log"
    unavailable "lpadmin could not add the queue: $out"
  fi
  if ! wait_for 50 lpstat -p "$queue" >/dev/null 2>&1; then
    kill "$pid" 2>/dev/null
    rm -f "$state_dir/users/$pid"
    rm -rf "$spool" "$spool.log"
    unavailable "the queue $queue did not appear"
  fi

  write_env "QV_CUPS_AVAILABLE=1" "QV_CUPS_QUEUE=$queue" "QV_CUPS_SPOOL=$spool" \
    "QV_CUPS_PRINTER_URI=ipp://localhost:$port/ipp/print" \
    "QV_CUPS_QUEUE_URI=ipp://localhost/printers/$queue" "QV_CUPS_IPPEVE_PID=$pid"
  note "queue $queue on port $port, documents in $spool"
}

value() { sed -n "s/^$1=//p" "$envfile" 2>/dev/null | head -n 1; }

stop() {
  if [ -f "$envfile" ] && [ "$(value QV_CUPS_AVAILABLE)" = 1 ]; then
    local queue spool pid start=""
    queue=$(value QV_CUPS_QUEUE)
    spool=$(value QV_CUPS_SPOOL)
    pid=$(value QV_CUPS_IPPEVE_PID)
    if [ -n "$pid" ] && [ -f "$state_dir/users/$pid" ]; then
      read -r _ _ start _ <"$state_dir/users/$pid"
    fi
    remove_run "$queue" "$spool" "$pid" "$start"
    rm -f "$state_dir/users/$pid"
    note "removed queue $queue"
  fi
  rm -f "$envfile"

  prune_users
  if ! users_left && [ -f "$state_dir/started" ]; then
    # The daemons this script started, the last one first.
    local name pid start
    tac "$state_dir/started" | while read -r name pid start; do
      if same_process "$pid" "$start"; then
        note "stopping $name ($pid)"
        end_process "$pid" "$start"
      fi
    done
    rm -f "$state_dir/started"
  fi
}

case "$command" in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
