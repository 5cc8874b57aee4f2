#!/usr/bin/env bash
# isp-programmer.exe under Wine and Xvfb with a stand-in as COM7: the window
# lists COM7 and, on Передать, identifies the device there. A Wine prefix of
# its own (build/wine-dialog): the dialog probes COM1 to COM20, so all twenty
# are taken over there (see dialog_check.sh).
#
#   tests/win32/dialog_with_device.sh ISP-PROGRAMMER.EXE NATIVE-ISP-SIM
set -euo pipefail
exe=$1 sim=$2
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="$here/../../build/wine-dialog"

work=$(mktemp -d)
nice -n -10 "$sim" >"$work/out" 2>"$work/err" &
pid=$!
trap 'kill -INT $pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/out" ] && break; sleep 0.1; done
"$here/dialog_check.sh" "$exe" --port "$(head -1 "$work/out")" --transmit
wineserver -k 2>/dev/null || true
kill -INT "$pid"
wait "$pid" || true
grep -q '^isp-sim: 1 frames' "$work/err" || { echo "the dialog did not identify the device on COM7" >&2; exit 1; }
echo "the dialog listed COM7 and identified the device there"
