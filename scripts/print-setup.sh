#!/usr/bin/env bash
# A print system for the printing tests: CUPS with a cups-pdf queue "PelmoraPDF" as the default
# printer, which turns every job into a PDF in /var/spool/cups-pdf/PELMORA.
#
#   scripts/print-setup.sh start   starts cupsd if it is not running and adds the queue
#   scripts/print-setup.sh stop    removes what start added and stops a cupsd it started
#
# Installs nothing (scripts/install-deps.sh does). Needs root, and asks sudo without a prompt
# otherwise. Several test runs may share the queue: each start counts its caller, and the last
# stop takes everything down again. A failed start leaves the printing tests to skip.
set -euo pipefail

queue=PelmoraPDF
out=/var/spool/cups-pdf/PELMORA
conf=/etc/cups/cups-pdf-$queue.conf
state=/run/pelmora-print-setup
# The queue's paper keeps unequal margins (points: left, bottom, right, top), like a real
# inkjet printer, so that the tests see each page scaled into the printable area, not onto the
# paper, and Qt's own default margins (10 points) would show.
margins=(6 24 12 8)

cmd=${1:-}
token=${2:-$PPID}  # the calling shell (or the process given), counted as one user
case "$cmd" in start | stop) ;; *)
  echo "usage: $0 start|stop" >&2
  exit 2
  ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  exec sudo -n "$0" "$cmd" "$token"
fi

mkdir -p /run/lock "$state"
exec 9>/run/lock/pelmora-print-setup.lock
flock -w 60 9

scheduler_running() { lpstat -r 2>/dev/null | grep -q "is running"; }

# Keeps the users that are still alive.
prune_users() {
  local kept=()
  if [ -f "$state/users" ]; then
    while read -r pid; do
      [ -n "$pid" ] && [ "$pid" != "$1" ] && kill -0 "$pid" 2>/dev/null && kept+=("$pid")
    done <"$state/users"
  fi
  printf '%s\n' "${kept[@]+"${kept[@]}"}" | sed '/^$/d' >"$state/users"
}

start() {
  for tool in cupsd lpadmin lpinfo lpstat; do
    command -v "$tool" >/dev/null || {
      echo "print-setup: $tool is missing (scripts/install-deps.sh installs CUPS)" >&2
      exit 1
    }
  done
  prune_users ""
  if ! scheduler_running; then
    setsid cupsd -f </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$state/cupsd.pid"
    for _ in $(seq 100); do
      scheduler_running && break
      sleep 0.1
    done
    scheduler_running || {
      echo "print-setup: cupsd did not start" >&2
      exit 1
    }
  fi
  if ! lpstat -p "$queue" >/dev/null 2>&1; then
    local model
    model=$(lpinfo -m 2>/dev/null | awk '/CUPS-PDF_noopt\.ppd/ { print $1; exit }')
    [ -n "$model" ] || {
      echo "print-setup: no cups-pdf driver (printer-driver-cups-pdf)" >&2
      exit 1
    }
    # cups-pdf makes its spool folder on the first job; stop removes it if it was not there.
    [ -d /var/spool/cups-pdf/SPOOL ] || touch "$state/spool-added"
    mkdir -p "$out"
    chmod 755 "$out"
    # Label 2 names each file after its job ("<title>-job_<id>.pdf"), so jobs never overwrite
    # each other.
    printf 'Out %s\nLabel 2\nTitlePref 1\n' "$out" >"$conf"
    lpstat -d 2>/dev/null | sed -n 's/^system default destination: //p' >"$state/previous-default"
    lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -m "$model" 2>/dev/null
    local ppd
    ppd=$(mktemp)
    awk -v l="${margins[0]}" -v b="${margins[1]}" -v r="${margins[2]}" -v t="${margins[3]}" '
      /^\*ImageableArea / {
        split($0, q, "\""); split(q[2], v, " ")
        printf "%s\"%g %g %g %g\"\n", q[1], v[1] + l, v[2] + b, v[3] - r, v[4] - t; next }
      /^\*HWMargins:/ { printf "*HWMargins: %g %g %g %g\n", l, b, r, t; next }
      { print }' "/etc/cups/ppd/$queue.ppd" >"$ppd"
    lpadmin -p "$queue" -P "$ppd" 2>/dev/null
    rm -f "$ppd"
    # Rendering through pdftocairo keeps the text of a job as text in the PDF (the default
    # renderer turns it into Type 3 glyphs), so that the tests can read the printout back.
    lpadmin -p "$queue" -o pdftops-renderer-default=pdftocairo
    lpadmin -d "$queue"
    touch "$state/added"
  fi
  echo "$token" >>"$state/users"
  echo "print-setup: $queue is the default printer; its jobs go to $out"
}

stop() {
  prune_users "$token"
  [ -s "$state/users" ] && exit 0
  if [ -f "$state/added" ]; then
    cancel -a -x "$queue" 2>/dev/null || true
    lpadmin -x "$queue" 2>/dev/null || true
    local previous
    previous=$(cat "$state/previous-default" 2>/dev/null || true)
    if [ -n "$previous" ] && lpstat -p "$previous" >/dev/null 2>&1; then
      lpadmin -d "$previous"
    fi
    rm -rf "$out" "$conf" "/var/log/cups/cups-pdf-${queue}_log" "/var/cache/cups/$queue.strings"
    [ -f "$state/spool-added" ] && rm -rf /var/spool/cups-pdf/SPOOL
    rm -f "$state/added" "$state/previous-default" "$state/spool-added"
  fi
  if [ -f "$state/cupsd.pid" ]; then
    local pid
    pid=$(cat "$state/cupsd.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid"
      for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
    fi
    rm -f "$state/cupsd.pid"
  fi
  rm -f "$state/users"
  rmdir "$state" 2>/dev/null || true
}

"$cmd"
