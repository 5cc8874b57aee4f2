#!/usr/bin/env bash
# isp-station as a line starts it at boot, under a virtual display with the
# accessibility bus on: two stand-ins plugged in after it started are
# programmed byte for byte, the report gets their two lines, and a screen
# reader reads both tiles as completed. Then the display goes away in the
# middle of a third device: the line stops as Stop would stop it, with the
# device's "stopped" line in the report. Between the two, run by root (who
# alone can hold a line file locked against the user running it), a window
# in operator mode: the line file's set-up shown and not editable, its
# device programmed, its report line naming the line.
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
p1=$work/ttyP1 p2=$work/ttyP2 p3=$work/ttyP3
operator=""
if [ "$(id -u)" = 0 ]; then
  operator=1
  printf '{"name": "Линия 3", "firmware": "fw.isp", "sha256": "%s", "ports": ["%s"],\n "interval_ms": 0, "report": "line.jsonl"}\n' \
    "$(sha256sum "$work/fw.isp" | cut -c1-64)" "$p3" >"$work/line.json"
else
  echo "operator mode not tried: only root can hold a line file locked against the user running the test"
fi

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
if [ -n "$operator" ]; then
  # Without --start it waits for Start, its set-up shown.
  QT_QPA_PLATFORM=xcb xvfb-run -a "$build/gui/station/isp-station" --line "$work/line.json" >"$work/operator.log" 2>&1 &
  window=\$!
  nice -n -10 "$build/sim/isp-sim" --link "$p3" --image "$work/p3.img" >/dev/null 2>&1 &
  device=\$!
  /usr/bin/python3 "$here/read_tiles.py" --setup "Линия 3" "Начать" >"$work/setup" ||
    { echo "no window titled Линия 3"; cat "$work/operator.log"; exit 1; }
  /usr/bin/python3 "$here/read_tiles.py" 60 "завершено в" "$p3" || { cat "$work/operator.log"; exit 1; }
  kill \$device
  wait \$device || true
  pkill -TERM -f -- "--line $work/line.json" || true
  wait \$window || true
fi
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
if [ -n "$operator" ]; then
  cmp "$work/p3.img" "$work/fw.isp"
  if ! grep -q "^edit	read-only	" "$work/setup" || grep -q editable "$work/setup" || grep -qE "^button	(Файл…|Папка…|Сохранить линию…)" "$work/setup"; then
    echo "operator mode offers a change:"; cat "$work/setup"; exit 1
  fi
  grep -q '"line":"Линия 3","line_sha256":"'"$(sha256sum "$work/line.json" | cut -c1-64)"'"' "$work/line.jsonl" ||
    { echo "the operator's report line does not name the line"; cat "$work/line.jsonl" "$work/operator.log"; exit 1; }
  echo "operator mode: the set-up not editable, the device programmed, its report line naming the line"
fi
results=$(grep -o '"result":"[a-z ]*"' "$work/made.jsonl" | tr '\n' ' ')
[ "$results" = '"result":"completed" "result":"completed" "result":"stopped" ' ] ||
  { echo "the report says $results"; cat "$work/station.log"; exit 1; }
echo "both images byte for byte, two report lines, and the third device stopped with the display"
