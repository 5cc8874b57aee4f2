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

# COM7 is ours, the other nineteen lead nowhere (wine_ports.sh).
. "$here/wine_ports.sh"
wine_ports 7
com7="$WINEPREFIX/com7-device"
if [ -z "$port" ]; then rm -f "$com7"; elif [ "$port" != "$com7" ]; then ln -sfn "$port" "$com7"; fi

[ -n "$shots" ] && mkdir -p "$shots"
export exe shots transmit
xvfb-run -a -s '-screen 0 800x600x24' bash "$here/dialog_steps.sh"
