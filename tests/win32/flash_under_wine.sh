#!/usr/bin/env bash
# isp-flash.exe under Wine against the stand-in, beside the Linux isp-flash
# against another: the same log lines, the same exit status, and the image
# the stand-in received equal to the file byte for byte. COM7 is a symbolic
# link in the Wine prefix to the stand-in's pseudo-terminal. Never COM1 to
# COM4: a new prefix maps those to the machine's real UARTs.
#
# usage: flash_under_wine.sh ISP-FLASH.EXE NATIVE-ISP-FLASH NATIVE-ISP-SIM
# with the Windows build's wineserver running (cmake/wine-server up).
set -euo pipefail
exe=$1 native=$2 sim=$3
run_wine=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run
. "$(dirname "$run_wine")/wine-env"
export LC_ALL=C.UTF-8  # Wine reads the command line in the locale's charset
com7="$WINEPREFIX/dosdevices/com7"

work=$(mktemp -d)
sims=()
cleanup() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -f "$com7"
  rm -rf "$work"
}
trap cleanup EXIT

# A name with Cyrillic letters and a space, as Windows sees it (drive Z: is /).
firmware="$work/Прошивка 1.isp"
head -c 66690 /dev/urandom >"$firmware"
winpath() { echo "Z:${1//\//\\}"; }

# Starts the stand-in with the options given; its pseudo-terminal in $pty.
start_sim() {
  local out="$work/sim.$RANDOM"
  nice -n -10 "$sim" "$@" >"$out" 2>/dev/null &
  sims+=($!)
  for _ in $(seq 100); do
    pty=$(head -n 1 "$out" 2>/dev/null || true)
    [ -n "$pty" ] && return 0
    sleep 0.05
  done
  echo "the stand-in did not start" >&2
  return 1
}

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

ms() { date +%s%3N; }

# name | stand-in options | exit status
cases=(
  "whole image||0"
  "silent device|--silent|3"
  "hang-up at record 50|--hangup-at 50|1"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name options want <<<"$c"
  # shellcheck disable=SC2086 # options are words
  start_sim $options
  t0=$(ms)
  status=0
  timeout 60 "$native" --port "$pty" --file "$firmware" --interval 0 >"$work/linux.out" 2>/dev/null || status=$?
  linux_ms=$(($(ms) - t0))
  [ "$status" = "$want" ] || fail "$name: Linux isp-flash exit $status, expected $want"
  sed -i "s|^Последовательный порт $pty\$|Последовательный порт COM7|" "$work/linux.out"

  # shellcheck disable=SC2086
  start_sim $options --image "$work/received.isp" --exit-when-complete
  ln -sfn "$pty" "$com7"
  rm -f "$work/журнал.log"
  t0=$(ms)
  status=0
  timeout 60 "$run_wine" "$exe" --port COM7 --file "$(winpath "$firmware")" --interval 0 \
    --log "$(winpath "$work/журнал.log")" >"$work/windows.out" 2>"$work/windows.err" || status=$?
  windows_ms=$(($(ms) - t0))
  [ "$status" = "$want" ] || fail "$name: isp-flash.exe exit $status, expected $want: $(cat "$work/windows.err")"
  diff -u "$work/linux.out" "$work/windows.out" >&2 || fail "$name: the log lines differ from Linux"
  [ "$(wc -l <"$work/журнал.log")" = "$(wc -l <"$work/linux.out")" ] || fail "$name: the --log file lacks lines"
  if [ "$want" = 0 ]; then
    cmp -s "$firmware" "$work/received.isp" || fail "$name: the stand-in received something else"
  fi
  echo "$name: exit $status; Linux ${linux_ms} ms, under Wine ${windows_ms} ms"
done

# Ctrl-C mid-transfer at the normal pace: Wine turns SIGINT into the
# console's Ctrl-C event. timeout passes the signal on.
start_sim
ln -sfn "$pty" "$com7"
timeout 60 "$run_wine" "$exe" --port COM7 --file "$(winpath "$firmware")" >"$work/windows.out" 2>/dev/null &
flash=$!
for _ in $(seq 100); do
  grep -q "Программирование устройства начато" "$work/windows.out" && break
  sleep 0.1
done
kill -INT "$flash"
status=0
wait "$flash" || status=$?
[ "$status" = 130 ] || fail "Ctrl-C: exit $status, expected 130"
[ "$(tail -n 1 "$work/windows.out")" = "Передача остановлена" ] || fail "Ctrl-C: the log does not end in the stop"
echo "Ctrl-C: exit $status"

# Two ports at once, COM7 and COM8, the second refusing record 30: the first
# is programmed, the exit status is 1, and the report has a line for each.
# Another writer left the report's last line without its end: ours starts
# on a line of its own.
printf '{"torn":' >"$work/report.jsonl"
start_sim --image "$work/com7.isp"
ln -sfn "$pty" "$com7"
start_sim --error-at 30
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com8"
status=0
timeout 60 "$run_wine" "$exe" --port COM7,COM8 --file "$(winpath "$firmware")" --interval 0 \
  --report "$(winpath "$work/report.jsonl")" >"$work/windows.out" 2>"$work/windows.err" || status=$?
rm -f "$WINEPREFIX/dosdevices/com8"
[ "$status" = 1 ] || fail "two ports: exit $status, expected 1: $(cat "$work/windows.err")"
cmp -s "$firmware" "$work/com7.isp" || fail "two ports: COM7 received something else"
grep -qx "COM8: Ошибка 4, блок 30" "$work/windows.out" || fail "two ports: no failure named for COM8"
[ "$(grep -c '"result":"completed"' "$work/report.jsonl")/$(grep -c '"result":"not completed"' "$work/report.jsonl")" = 1/1 ] ||
  fail "two ports: the report is not one completed and one not completed line"
[ "$(head -n 1 "$work/report.jsonl")" = '{"torn":' ] && [ "$(wc -l <"$work/report.jsonl")" = 3 ] ||
  fail "two ports: the first line is not on a line of its own"
echo "two ports: exit $status"

# A report that cannot be kept stops the run before the device is touched;
# one port named twice is a usage error. The file-size limit stands for a
# full disk (SIGXFSZ ignored, so that the write fails as on a full disk
# rather than the signal ending Wine): the line is taken back.
start_sim --verbose
ln -sfn "$pty" "$com7"
for report in "$(winpath "$work")" COM8; do
  status=0
  timeout 60 "$run_wine" "$exe" --port COM7 --file "$(winpath "$firmware")" --report "$report" \
    >/dev/null 2>"$work/windows.err" || status=$?
  [ "$status" = 5 ] && grep -q "cannot keep the report" "$work/windows.err" ||
    fail "report $report: exit $status, expected 5: $(cat "$work/windows.err")"
done
status=0
timeout 60 "$run_wine" "$exe" --port 'COM7,//./com7' --identify >/dev/null 2>"$work/windows.err" || status=$?
[ "$status" = 2 ] && grep -q "names one device twice" "$work/windows.err" ||
  fail "one port twice: exit $status, expected 2: $(cat "$work/windows.err")"
# One file in one role, by two names that differ in case; numbers in decimal.
status=0
timeout 60 "$run_wine" "$exe" --port COM7 --file "$(winpath "$firmware")" --log "$(winpath "$work/report.jsonl")" \
  --report "$(winpath "$work/REPORT.jsonl")" >/dev/null 2>"$work/windows.err" || status=$?
[ "$status" = 2 ] && grep -q "name one file" "$work/windows.err" ||
  fail "one file twice: exit $status, expected 2: $(cat "$work/windows.err")"
status=0
timeout 60 "$run_wine" "$exe" --port COM7 --identify --interval 0x10 >/dev/null 2>"$work/windows.err" || status=$?
[ "$status" = 2 ] && grep -q "in decimal digits: 0x10" "$work/windows.err" ||
  fail "--interval 0x10: exit $status, expected 2: $(cat "$work/windows.err")"
cp "$work/report.jsonl" "$work/before.jsonl"
status=0
(trap '' XFSZ && exec timeout 60 prlimit --fsize=$(($(stat -c %s "$work/report.jsonl") + 60)) "$run_wine" "$exe" \
  --port COM7 --file "$(winpath "$firmware")" --interval 0 --report "$(winpath "$work/report.jsonl")") \
  >/dev/null 2>"$work/windows.err" || status=$?
[ "$status" = 5 ] || fail "full disk: exit $status, expected 5: $(cat "$work/windows.err")"
cmp -s "$work/before.jsonl" "$work/report.jsonl" || fail "full disk: a torn line was left in the report"
echo "report problems: exit 5, 2, 2, 2 and 5"

# The record published to Debian's broker on the Linux side: the report
# line arrives whole, with its id, and the retained status says stopped;
# mqtts:// is refused, this build having no TLS.
if command -v mosquitto >/dev/null && command -v mosquitto_sub >/dev/null; then
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/broker.conf"
  mosquitto -c "$work/broker.conf" >/dev/null 2>&1 &
  sims+=($!)
  for _ in $(seq 100); do (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
  timeout 60 mosquitto_sub -p "$port" -t 'isp/wine-1/#' -v -C 3 >"$work/published" &
  sub=$!
  sleep 0.5
  start_sim
  ln -sfn "$pty" "$com7"
  status=0
  timeout 60 "$run_wine" "$exe" --port COM7 --file "$(winpath "$firmware")" --interval 0 \
    --report "$(winpath "$work/published.jsonl")" --publish "mqtt://127.0.0.1:$port" --station-name wine-1 \
    >/dev/null 2>"$work/windows.err" || status=$?
  wait "$sub" || true
  [ "$status" = 0 ] || fail "publishing: exit $status: $(cat "$work/windows.err")"
  grep -qxF "isp/wine-1/record $(cat "$work/published.jsonl")" "$work/published" ||
    fail "publishing: the report line did not arrive as it stands: $(cat "$work/published")"
  grep -q '^isp/wine-1/status .*"state":"stopped","completed":1' "$work/published" ||
    fail "publishing: no status stopped: $(cat "$work/published")"
  status=0
  timeout 60 "$run_wine" "$exe" --port COM7 --file "$(winpath "$firmware")" --report "$(winpath "$work/p2.jsonl")" \
    --publish "mqtts://127.0.0.1:$port" >/dev/null 2>"$work/windows.err" || status=$?
  [ "$status" = 2 ] && grep -q "this build has no TLS" "$work/windows.err" ||
    fail "mqtts: exit $status, expected 2: $(cat "$work/windows.err")"
  echo "publishing: the report line and the status at the broker; mqtts refused"
fi

[ "$failures" = 0 ] && echo "isp-flash.exe under Wine: all passed"
exit $((failures > 0))
