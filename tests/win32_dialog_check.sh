#!/usr/bin/env bash
# Runs isp-programmer.exe under Wine on a virtual X display: the main window
# must open with its title, the system menu's last entry must open the about
# box, Escape must close that, and Enter (Exit) must end the program.
#
#   tests/win32_dialog_check.sh EXE [--shots DIR] [--port DEVICE]
#
# --shots DIR    screenshots win32-main.png and win32-about.png into DIR
# --port DEVICE  COM7 is DEVICE (a pseudo-terminal, say), so the list shows it
#
# Needs wine64, xvfb, xauth, xdotool (and imagemagick for --shots). The Wine
# prefix is $WINEPREFIX, by default a folder "wine" beside the .exe.
set -euo pipefail

exe="$(realpath "$1")"; shift
shots="" port=""
while [ $# -gt 0 ]; do
  case "$1" in
    --shots) shots="$(realpath -m "$2")"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

export WINEPREFIX="${WINEPREFIX:-$(dirname "$exe")/wine}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
here="$(cd "$(dirname "$0")" && pwd)"
com7="$WINEPREFIX/com7-device"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  # Wine gives every serial device it finds the first free COM number, and
  # COM1 is a real UART here. Every COM1 to COM20 is spoken for, so what
  # Wine finds lands beyond them: COM7 through a link of ours, the rest
  # pointing nowhere.
  for n in $(seq 1 20); do
    dev=/nonexistent/isp-no-port
    [ "$n" -eq 7 ] && dev="$com7"
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$dev" /f >/dev/null 2>&1
  done
  # No window manager on the virtual display: Wine draws captions itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
fi
if [ -n "$port" ]; then ln -sfn "$port" "$com7"; else rm -f "$com7"; fi

[ -n "$shots" ] && mkdir -p "$shots"
export exe shots
xvfb-run -a -s '-screen 0 800x600x24' bash "$here/win32_dialog_steps.sh"
