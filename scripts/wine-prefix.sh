#!/usr/bin/env bash
# wine-prefix.sh fresh PREFIX: a new, empty prefix (any old one and its wineserver are gone first).
# wine-prefix.sh stop PREFIX: ends the prefix's wineserver and every program still running in it.
set -euo pipefail
action="$1"
export WINEPREFIX="$2"
export WINEDEBUG=-all
case "$action" in
  fresh)
    [ -d "$WINEPREFIX" ] && /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # One wineserver for the whole run: otherwise it shuts down seconds after each test program
    # ends, and every next program pays for starting Wine again.
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    # Wine's own services start with the first program and must not hold CTest's output open.
    "$(dirname "$0")/wine-run.sh" "$WINEPREFIX" cmd /c exit 0 </dev/null >/dev/null 2>&1
    # The virtual display runs no window manager, and Wine waits two seconds for one to confirm
    # each top-level window that goes away unless its windows are left unmanaged.
    "$(dirname "$0")/wine-run.sh" "$WINEPREFIX" reg add 'HKCU\Software\Wine\X11 Driver' \
      /v Managed /d N /f </dev/null >/dev/null 2>&1
    ;;
  stop)
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 fresh|stop PREFIX" >&2; exit 2 ;;
esac
