#!/usr/bin/env bash
# isp-station as a line starts it at boot, under a virtual display with the
# accessibility bus on: two stand-ins plugged in after it started are
# programmed byte for byte, the report gets their two lines, and a screen
# reader reads both tiles as completed. Then the display goes away in the
# middle of a third device: the line stops as Stop would stop it, with the
# device's "stopped" line in the report.
#   station_over_atspi.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
# Everything started here carries this mark in its environment, however it
# was started (the bus daemons, the display, the window): at the end, pass
# or fail, every process that has it is ended.
export ISP_TEST_RUN=$work
marked() { (unset ISP_TEST_RUN; grep -lzx "ISP_TEST_RUN=$work" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3) || true; }
reap() {
  local pids
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    pids=$(marked)
    [ -z "$pids" ] && return
    kill $pids 2>/dev/null || true
    sleep 0.2
  done
  pids=$(marked)
  [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
}
trap 'reap; rm -rf "$work"' EXIT
head -c 66690 /dev/urandom >"$work/fw.isp"
p1=$work/ttyP1 p2=$work/ttyP2

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0 XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
dbus-run-session -- bash -s <<SCRIPT
set -euo pipefail
/usr/libexec/at-spi-bus-launcher --launch-immediately &
# The window joins the accessibility bus when it starts: the bus must be up.
for _ in \$(seq 100); do
  dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
  sleep 0.1
done
# A real display, whatever platform the caller's environment names: the
# offscreen one has no accessibility bridge.
QT_QPA_PLATFORM=xcb xvfb-run -a "$build/gui/station/isp-station" --port "$p1,$p2" --file "$work/fw.isp" --report "$work/made.jsonl" \
  --interval 0 --start >"$work/station.log" 2>&1 &
sleep 2
# Plugged in, and left plugged in: a tile says "completed" while its device is there.
nice -n -10 "$build/sim/isp-sim" --link "$p1" --image "$work/p1.img" >/dev/null 2>&1 &
nice -n -10 "$build/sim/isp-sim" --link "$p2" --image "$work/p2.img" >/dev/null 2>&1 &
/usr/bin/python3 "$here/read_tiles.py" 60 "завершено в" "$p1" "$p2" || { cat "$work/station.log"; exit 1; }
kill %3
wait %3 || true
# A board at a real line's pace, and the display gone after its 20th record.
nice -n -10 "$build/sim/isp-sim" --link "$p1" --baud 19200 --verbose 2>"$work/p3.log" >/dev/null &
for _ in \$(seq 300); do
  [ "\$(grep -c 'record' "$work/p3.log")" -ge 20 ] && break
  sleep 0.1
done
for pid in \$(pgrep -x Xvfb); do
  grep -qzx "ISP_TEST_RUN=$work" /proc/\$pid/environ 2>/dev/null && kill \$pid || true
done
wait %2 || true
SCRIPT
cmp "$work/p1.img" "$work/fw.isp"
cmp "$work/p2.img" "$work/fw.isp"
results=$(grep -o '"result":"[a-z ]*"' "$work/made.jsonl" | tr '\n' ' ')
[ "$results" = '"result":"completed" "result":"completed" "result":"stopped" ' ] ||
  { echo "the report says $results"; cat "$work/station.log"; exit 1; }
echo "both images byte for byte, two report lines, and the third device stopped with the display"
