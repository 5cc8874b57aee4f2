#!/usr/bin/env bash
# isp-station.exe under Wine on a virtual display, with stand-ins as COM7,
# COM8 and COM9. Started with --port COM7,COM8 --start, it must program both
# devices byte for byte, write two report lines and say "завершено" on both
# tiles (read from the tiles' controls); started again on COM9, whose
# device refuses record 100, its tile must say so; started on COM7 at the
# normal pace, the session's end mid-transfer must stop it with the
# device's "stopped" line written. Started on 16 ports named by their USB
# path, none plugged in, on a screen of 1280 x 1024, every tile must say
# "нет адаптера" with no text cut, nor the totals. With a kept interval of
# "abc", --start must not start the line. A prefix of its own
# (build/wine-station): the window probes COM1 to COM20.
#
#   tests/win32/station_check.sh ISP-STATION.EXE READ-TILES.EXE NATIVE-ISP-SIM [--shots DIR]
#
# --shots DIR  the window with both devices programmed, as DIR/station-win32.png,
#              and the 16 ports as DIR/station-win32-16-by-path.png
set -euo pipefail
exe="$(realpath "$1")" reader="$(realpath "$2")" sim="$3"
shots=""
[ "${4:-}" = --shots ] && shots="$(realpath -m "$5")"
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="$here/../../build/wine-station"
. "$here/../../cmake/wine-env"

work=$(mktemp -d)
pids=() xvfb="" station=""
cleanup() {
  [ -n "$station" ] && kill "$station" 2>/dev/null
  wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 143" INT TERM  # the clean-up runs on a time-out too
fail() { echo "FAIL: $*" >&2; exit 1; }

. "$here/wine_ports.sh"
wine_ports 7 8 9
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"

head -c 66690 /dev/urandom >"$work/fw.isp"
nice -n -10 "$sim" --link "$WINEPREFIX/com7-device" --image "$work/com7.img" >/dev/null &
pids+=($!)
nice -n -10 "$sim" --link "$WINEPREFIX/com8-device" --image "$work/com8.img" >/dev/null &
pids+=($!)
nice -n -10 "$sim" --link "$WINEPREFIX/com9-device" --error-at 100:5 >/dev/null &
pids+=($!)
for n in 7 8 9; do
  for _ in $(seq 50); do [ -e "$WINEPREFIX/com$n-device" ] && break; sleep 0.1; done
done
win() { echo "Z:${1//\//\\}"; }  # a Linux path as Wine names it
report="$work/report.jsonl"
lines() { [ -f "$report" ] && wc -l <"$report" || echo 0; }
tiles() { wine "$reader" 'Станция программирования' "$@"; }

# Runs the station on $1 until the report has $2 lines (or, with 0, until
# $3 tiles say "нет адаптера"), then reads its tiles into $work/tiles,
# maybe shoots it as $shots/$4, and closes it.
run() {
  wine "$exe" --port "$1" --file "$(win "$work/fw.isp")" --report "$(win "$report")" --interval 0 --start &
  station=$!
  if [ "$2" -gt 0 ]; then
    for _ in $(seq 600); do [ "$(lines)" -ge "$2" ] && break; sleep 0.1; done
    [ "$(lines)" -ge "$2" ] || fail "on $1: $(lines) report lines, not $2"
  else
    for _ in $(seq 600); do [ "$(tiles 2>/dev/null | grep -c 'нет адаптера')" -ge "$3" ] && break; sleep 0.1; done
  fi
  sleep 1  # the window takes the last messages in
  tiles >"$work/tiles" || fail "no station window"
  cat "$work/tiles"
  if [ -n "$shots" ] && [ -n "${4:-}" ]; then
    mkdir -p "$shots"
    import -window root -crop "$(xdotool search --name '^Станция программирования$' getwindowgeometry --shell |
      awk -F= '/WIDTH/{w=$2} /HEIGHT/{h=$2} /^X/{x=$2} /^Y/{y=$2} END{print w "x" h "+" x "+" y}')" +repage \
      "$shots/$4"
  fi
  close_station
}
close_station() {
  tiles --close >/dev/null
  for _ in $(seq 100); do kill -0 "$station" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$station" 2>/dev/null && fail "the window did not close"
  wait "$station" || fail "isp-station.exe ended with $?"
  station=""
}

run COM7,COM8 2 0 station-win32.png
for n in 7 8; do
  cmp "$work/fw.isp" "$work/com$n.img" || fail "the device on COM$n did not get the image byte for byte"
  grep -q "^COM$n	COM$n	.*	завершено в " "$work/tiles" || fail "the tile of COM$n does not say completed"
done
# A poll that Wine answers too late ends "the same device", and the board is
# programmed again (never taken for done unasked): a line each at least.
for n in 7 8; do
  grep -q "\"port\":\"COM$n\".*\"result\":\"completed\"" "$report" || fail "the report has no completed line for COM$n"
done
echo "COM7 and COM8 programmed, two report lines, both tiles say so"

run COM9 3
grep -q "^COM9	COM9	.*Ошибка 5, блок 100" "$work/tiles" || fail "the tile of COM9 does not say its device failed at record 100"
echo "the device that refused record 100 is shown as failed"

byPath=""
for n in $(seq 16); do byPath+="${byPath:+,}/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.$n:1.0-port0"; done
run "$byPath" 0 16 station-win32-16-by-path.png
[ "$(grep -c 'нет адаптера' "$work/tiles")" -eq 16 ] || fail "not 16 tiles waiting for their adapters"
grep -q CLIPPED "$work/tiles" && fail "a text cut on a screen of 1280 x 1024"
echo "16 ports by their USB paths fit a screen of 1280 x 1024, no text cut"

# The device that failed may have been programmed again before its window
# closed (a failed board is never taken for done): count from here.
before=$(lines)
wine "$exe" --port COM7 --file "$(win "$work/fw.isp")" --report "$(win "$report")" --interval 250 --start &
station=$!
# The session ends once a transfer is under way, however slowly Wine came up.
programming=""
for _ in $(seq 600); do tiles 2>/dev/null | grep -q "^COM7	.*программирование" && programming=1 && break; sleep 0.1; done
[ -n "$programming" ] || fail "the tile of COM7 never said it was programming"
wine wineboot --end-session
for _ in $(seq 100); do kill -0 "$station" 2>/dev/null || break; sleep 0.1; done
kill -0 "$station" 2>/dev/null && fail "the session's end did not end the window"
station=""
[ "$(lines)" -eq $((before + 1)) ] && tail -1 "$report" | grep -q '"result":"stopped"' ||
  fail "the session's end did not leave the device's stopped line: $(lines) lines, the last $(tail -1 "$report")"
echo "the session's end stopped the line, its report line written"

# A kept interval that cannot be used holds the line, even with --start:
# no tile, no report line, until the operator corrects it.
wine reg add 'HKCU\Software\isp-programmer\isp-station' /v interval /t REG_SZ /d abc /f >/dev/null 2>&1
before=$(lines)
wine "$exe" --port COM7 --file "$(win "$work/fw.isp")" --start &
station=$!
for _ in $(seq 300); do tiles >/dev/null 2>&1 && break; sleep 0.1; done
sleep 2  # time enough to start, if it would
tiles >"$work/tiles" || fail "no station window"
grep -q "^COM7" "$work/tiles" && fail "the line started with a kept interval of abc"
[ "$(lines)" -eq "$before" ] || fail "the line wrote to the report with a kept interval of abc"
close_station
echo "a kept interval of abc holds the line"

# Operator mode: the line file's set-up, its fields not editable, both
# devices programmed and each report line naming the line. Wine shows every
# file as the user's own (an administrator's), its permissions from the
# mode bits alone: a line everyone may write is refused, one only its owner
# may write is the administrator's to run.
line="$work/line.json" lineReport="$work/line.jsonl"
rm -f "$work/com7.img" "$work/com8.img"
printf '{"name": "Линия 7", "firmware": "fw.isp", "sha256": "%s", "ports": ["COM7", "COM8"],\n "interval_ms": 0, "report": "line.jsonl"}\n' \
  "$(sha256sum "$work/fw.isp" | cut -c1-64)" >"$line"
chmod 0666 "$line"
if wine "$exe" --line "$(win "$line")" --start 2>"$work/refused"; then fail "a line everyone may write was run"; fi
grep -q "operator mode needs a line file you cannot change: .*Everyone.* may change it" "$work/refused" ||
  fail "a line everyone may write was refused without its reason: $(cat "$work/refused")"
chmod 0644 "$line"
wine "$exe" --line "$(win "$line")" --start &
station=$!
for _ in $(seq 600); do [ "$(grep -c '"result":"completed"' "$lineReport" 2>/dev/null)" -ge 2 ] && break; sleep 0.1; done
for n in 7 8; do cmp "$work/fw.isp" "$work/com$n.img" || fail "operator mode: COM$n did not get the image"; done
grep -q '"line":"Линия 7","line_sha256":"'"$(sha256sum "$line" | cut -c1-64)"'"' "$lineReport" ||
  fail "operator mode: the report lines do not name the line: $(head -1 "$lineReport")"
wine "$reader" 'Линия 7' --setup >"$work/setup" || fail "no window titled with the line's name"
[ "$(grep -c "^edit	read-only	" "$work/setup")" -eq 4 ] || fail "operator mode: a field can be edited: $(cat "$work/setup")"
grep -qE "^button	(Файл…|Папка…|Сохранить линию…)" "$work/setup" && fail "operator mode: a chooser is offered"
tiles() { wine "$reader" 'Линия 7' "$@"; }
close_station
echo "operator mode: the line file's set-up, not editable, both devices programmed, the report names the line"
