#!/usr/bin/env bash
# Each .exe we build must stand alone: it may import only what every Windows has.
#   tests/win32/imports_check.sh EXE...
set -euo pipefail
for exe in "$@"; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
    case $dll in
      kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | advapi32.dll | ole32.dll | ws2_32.dll | setupapi.dll) ;;
      *) echo "$exe imports $dll, which is not a system DLL" >&2; exit 1 ;;
    esac
  done
done
echo "$# programs import only system DLLs"
