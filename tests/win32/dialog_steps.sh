#!/usr/bin/env bash
# The steps of dialog_check.sh, on its virtual display.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; wineserver -k 2>/dev/null || true; exit 1; }
# xdotool dies on an X error, which a window vanishing mid-search can raise:
# such a search is asked again, never taken for an answer. Visible windows
# only: one found before it is mapped cannot take the focus (BadMatch).
windows_named() {  # the ids of the visible windows with this title
  local out
  for _ in $(seq 10); do
    if out=$(xdotool search --onlyvisible --name "^$1\$" 2>&1); then echo "$out"; return 0; fi
    [ -z "$out" ] && return 0  # none, and no error
    sleep 0.1
  done
  fail "xdotool keeps failing: $out"
}
window() {  # the first visible window with this title, waiting up to $2 s
  local end=$((SECONDS + ${2:-60})) id
  while [ "$SECONDS" -lt "$end" ]; do
    id=$(windows_named "$1" | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
focus() {  # retried: Wine may still be mapping or re-mapping the window
  for _ in $(seq 50); do
    timeout 5 xdotool windowfocus --sync "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "window $1 does not take the focus"
}
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
focus "$main"
xdotool key --clearmodifiers alt+space
sleep 0.5
xdotool key Up Return
about=$(window 'О программе' 10) || fail "no about box"
[ -n "$about" ] || fail "no about box"
echo "about box open"
shot "$about" win32-about.png
xdotool key Escape
for _ in $(seq 50); do about=$(windows_named 'О программе'); [ -z "$about" ] && break; sleep 0.1; done
[ -n "$about" ] && fail "about box still open after Escape"
echo "about box closed"

if [ -n "$transmit" ]; then
  # Передать is the fourth stop in the tab order, from Exit. The dialog puts
  # the focus back on Exit after the about box in its own time: let it.
  sleep 1
  focus "$main"
  xdotool key Tab Tab Tab space
  sleep 2
  shot "$main" win32-transmit.png
  echo "Transmit pressed"
  # A focused push button takes Enter itself: back to Exit (Stop is disabled).
  xdotool key Tab Tab
fi

focus "$main"
xdotool key Return
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Exit did not end the program"
wait "$pid" || true
echo "1 passed, 0 failed"
