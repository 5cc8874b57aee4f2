#!/usr/bin/env bash
# The steps of dialog_check.sh, on its virtual display.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; wineserver -k 2>/dev/null || true; exit 1; }
window() { timeout "${2:-60}" xdotool search --sync --name "^$1\$" | head -1; }
shot() {  # the window with its frame, as the screen shows it
  [ -n "$shots" ] || return 0
  sleep 1  # let the window finish painting
  eval "$(xdotool getwindowgeometry --shell "$1")"
  /usr/bin/import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$2"
}

wine "$exe" &
pid=$!

main=$(window 'Программирование') || fail "no main window"
[ -n "$main" ] || fail "no main window"
echo "main window open"
shot "$main" win32-main.png

# The about entry is the system menu's last item.
xdotool windowfocus --sync "$main"
xdotool key --clearmodifiers alt+space
sleep 0.5
xdotool key Up Return
about=$(window 'О программе' 10) || fail "no about box"
[ -n "$about" ] || fail "no about box"
echo "about box open"
shot "$about" win32-about.png
xdotool key Escape
for _ in $(seq 50); do xdotool search --name '^О программе$' >/dev/null || break; sleep 0.1; done
xdotool search --name '^О программе$' >/dev/null && fail "about box still open after Escape"
echo "about box closed"

if [ -n "$transmit" ]; then
  # Передать is the fourth stop in the tab order, from Exit.
  xdotool windowfocus --sync "$main"
  xdotool key Tab Tab Tab space
  sleep 2
  shot "$main" win32-transmit.png
  echo "Transmit pressed"
  # A focused push button takes Enter itself: back to Exit (Stop is disabled).
  xdotool key Tab Tab
fi

xdotool windowfocus --sync "$main"
xdotool key Return
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Exit did not end the program"
wait "$pid" || true
echo "1 passed, 0 failed"
