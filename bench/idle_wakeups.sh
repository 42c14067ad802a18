#!/usr/bin/env bash
# How often does an idle orderlink wake up? Runs `orderlink DEBUG` with three
# handsets on a pty whose far end only listens, and reports the context switches
# of the whole process per second over a measuring window (default 10 s).
# Usage: bench/idle_wakeups.sh [build-dir] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-10}

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/TXT"
printf '1 COM1\r\n' >"$work/TXT/基站.txt"
printf '001 1\r\n002 1\r\n003 1\r\n' >"$work/TXT/点菜机.txt"

socat pty,raw,echo=0,link="$work/line" pty,raw,echo=0,link="$work/far" &
for _ in $(seq 50); do [[ -e $work/far ]] && break; sleep 0.1; done
cat "$work/far" >/dev/null 2>&1 &

ORDERLINK_APPDIR=$work ORDERLINK_COM1=$work/line ORDERLINK_NONINTERACTIVE=1 \
  QT_QPA_PLATFORM=offscreen "$build/bin/orderlink" DEBUG 2>"$work/stderr" &
pid=$!
sleep 3  # start-up settles

switches() {
  local total=0 n
  for status in /proc/"$pid"/task/*/status; do
    n=$(awk '/ctxt_switches/ {s += $2} END {print s}' "$status" 2>/dev/null || echo 0)
    total=$((total + n))
  done
  echo "$total"
}

before=$(switches)
sleep "$seconds"
after=$(switches)
kill -TERM "$pid"
wait "$pid" || true
echo "idle wake-ups: $(( (after - before) / seconds )) per second (3 handsets, ${seconds} s)"
