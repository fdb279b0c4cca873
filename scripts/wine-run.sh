#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine in the given throwaway prefix (never ~/.wine).
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]. The prefix is made on first use.
set -euo pipefail
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and their install prompts would wait forever.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  # Debian's Wine does not find its own fonts (Tahoma, MS Sans Serif, Marlett for the caption
  # buttons) where fonts-wine puts them; the prefix's Fonts folder is always searched.
  if [ -d /usr/share/wine/fonts ]; then
    cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
fi
exec /usr/lib/wine/wine64 "$@"
