# Sourced by the Wine checks of the windows: gives the prefix $WINEPREFIX
# (made when missing) all twenty names COM1 to COM20, the numbers given to
# $WINEPREFIX/comN-device (a link the check points at a stand-in), the
# others to nowhere.
#
#   wine_ports N...
#
# The windows probe COM1 to COM20, and Wine gives every serial device it
# finds the first free COM number: COM1 would be a real UART here. So all
# twenty are spoken for in the registry, which pushes what Wine finds beyond
# them. The registry holds from the next Wine start on; the links hold now.
wine_ports() {
  local nowhere=/nonexistent/isp-no-port n dev reg
  # wineserver -w: the registry is on disk, and read afresh, once the server is gone.
  [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
  if [ "$(cat "$WINEPREFIX/isp-ports" 2>/dev/null)" != "$*" ]; then
    reg="$(mktemp --suffix=.reg)"
    {
      printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
      for n in $(seq 1 20); do
        dev=$nowhere
        for m in "$@"; do [ "$n" -eq "$m" ] && dev="$WINEPREFIX/com$n-device"; done
        printf '"COM%d"="%s"\n' "$n" "$dev"
      done
      # No window manager on the virtual display: Wine draws the frames.
      printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
    } >"$reg"
    wine regedit /S "$reg" >/dev/null 2>&1
    rm -f "$reg"
    wineserver -w
    echo "$*" >"$WINEPREFIX/isp-ports"
  fi
  for n in $(seq 1 20); do ln -sfn "$nowhere" "$WINEPREFIX/dosdevices/com$n"; done
  for n in "$@"; do ln -sfn "$WINEPREFIX/com$n-device" "$WINEPREFIX/dosdevices/com$n"; done
}
