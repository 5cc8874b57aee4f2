#!/usr/bin/env bash
# Runs isp-programmer.exe under Wine on a virtual X display: the main window
# must open with its title, the system menu's last entry must open the about
# box, Escape must close that, and Enter (Exit) must end the program.
#
#   tests/win32/dialog_check.sh EXE [--shots DIR] [--port DEVICE]
#
# --shots DIR    screenshots win32-main.png and win32-about.png into DIR
# --port DEVICE  COM7 is DEVICE (a pseudo-terminal, say)
# --transmit     press Передать before Exit (the device on COM7 is asked who it is)
#
# Needs wine64, xvfb, xauth, xdotool (and imagemagick for --shots). The Wine
# prefix is $WINEPREFIX, by default the Windows build's (cmake/wine-env).
set -euo pipefail

exe="$(realpath "$1")"; shift
shots="" port="" transmit=""
while [ $# -gt 0 ]; do
  case "$1" in
    --shots) shots="$(realpath -m "$2")"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    --transmit) transmit=1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../../cmake/wine-env"

# The window probes COM1 to COM20 as it opens, and Wine gives every serial
# device it finds the first free COM number: COM1 would be a real UART here.
# So all twenty are spoken for in the registry, which pushes what Wine finds
# beyond them: COM7 through a link of ours, the others to nowhere. The
# registry holds from the next Wine start on; the links hold now.
nowhere=/nonexistent/isp-no-port
com7="$WINEPREFIX/com7-device"
# wineserver -w: the registry is on disk, and read afresh, once the server is gone.
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
if ! grep -q "$nowhere" "$WINEPREFIX/system.reg"; then
  reg="$(mktemp --suffix=.reg)"
  {
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 1 20); do
      dev=$nowhere
      [ "$n" -eq 7 ] && dev=$com7
      printf '"COM%d"="%s"\n' "$n" "$dev"
    done
    # No window manager on the virtual display: Wine draws the frames.
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
  } >"$reg"
  wine regedit /S "$reg" >/dev/null 2>&1
  rm -f "$reg"
  wineserver -w
fi
for n in $(seq 1 20); do ln -sfn "$nowhere" "$WINEPREFIX/dosdevices/com$n"; done
ln -sfn "$com7" "$WINEPREFIX/dosdevices/com7"
if [ -z "$port" ]; then rm -f "$com7"; elif [ "$port" != "$com7" ]; then ln -sfn "$port" "$com7"; fi

[ -n "$shots" ] && mkdir -p "$shots"
export exe shots transmit
xvfb-run -a -s '-screen 0 800x600x24' bash "$here/dialog_steps.sh"
