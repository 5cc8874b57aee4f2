#!/usr/bin/env bash
# The Win32 station window's message loop with 16 ports programming under
# Wine: 16 stand-ins (at nice 19: on a line the devices are hardware) as
# COM5 to COM20 of a prefix of its own (build/wine-bench), on a virtual display.
#
#   bench/win32/station_bench.sh [INTERVAL-MS]   (from the repository, after scripts/build-windows)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
interval=${1:-0}
export WINEPREFIX="$root/build/wine-bench"
. "$root/cmake/wine-env"
work=$(mktemp -d)
pids=() xvfb=""
cleanup() {
  wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 143" INT TERM  # the clean-up runs on a time-out too
. "$root/tests/win32/wine_ports.sh"
wine_ports $(seq 5 20)
# A server of our own, quiet: a stand-in's pseudo-terminal that closes may
# hang up on it, and Wine's server prints all its objects when it is hung up on.
wineserver -k 2>/dev/null || true
wineserver -p >/dev/null 2>&1
Xvfb -displayfd 3 -screen 0 1100x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
head -c 66690 /dev/urandom >"$work/fw.isp"
for n in $(seq 5 20); do
  nice -n 19 "$root/build/check/sim/isp-sim" --link "$WINEPREFIX/com$n-device" --exit-when-complete >/dev/null 2>&1 &
  pids+=($!)
done
for n in $(seq 5 20); do
  for _ in $(seq 50); do [ -e "$WINEPREFIX/com$n-device" ] && break; sleep 0.1; done
done
echo "machine: $(uname -srm), $(nproc) hardware threads, $(wine --version 2>/dev/null)"
wine "$root/build/windows/bench/win32/station_bench.exe" "Z:${work//\//\\}\\fw.isp" "Z:${work//\//\\}\\r.jsonl" "$interval"
