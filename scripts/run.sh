#!/usr/bin/env bash
# Opens Ostrel under Wine. On a display it runs in the user's own WINEPREFIX (where a game
# installed under Wine keeps its key). Without one it runs a short demo instead: a throwaway
# prefix seeded with a sample key, a virtual display, Recover, and a screenshot.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEDEBUG="${WINEDEBUG:--all}"

# The shipped program is 32-bit; only a machine with 32-bit Wine support can run it.
can_run_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1 &&
    [ -f "$root/build/win32/ostrel.exe" ]
}

if [ -n "${DISPLAY:-}" ]; then
  if can_run_32bit; then
    exec /usr/lib/wine/wine "$root/build/win32/ostrel.exe"
  fi
  echo "Note: this machine cannot run 32-bit programs, so the 64-bit build runs; it sees the 64-bit registry view, where a 32-bit game's key is not."
  exec /usr/lib/wine/wine64 "$root/build/win64/ostrel.exe"
fi

demo="$root/build/demo"
echo "No display found: running a demo in a throwaway prefix with a sample key."
rm -rf "$demo"
mkdir -p "$demo/cwd"
export WINEPREFIX="$demo/prefix"
# The same throwaway prefix the tests use: one wineserver, Wine's fonts, windows left unmanaged
# so that Wine draws the frame itself on a display with no window manager.
exec xvfb-run -a -s "-screen 0 640x400x24" bash -s "$root" "$demo" <<'DEMO'
set -euo pipefail
root="$1" demo="$2"
"$root/scripts/wine-prefix.sh" fresh "$WINEPREFIX"
trap '"$root/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
"$root/scripts/wine-run.sh" "$WINEPREFIX" reg add 'HKLM\SOFTWARE\Activision\Call of Duty 4' \
  /v codkey /d 'DEMO7K2QXW4P9M3RTB8N' /f >/dev/null
(cd "$demo/cwd" && /usr/lib/wine/wine64 "$root/build/win64/ostrel.exe" &)
read -r x y w h < <(cd "$demo/cwd" && /usr/lib/wine/wine64 "$root/build/win64/ostrel_demo.exe" | tr -d '\r')
sleep 0.5
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$demo/ostrel-window.png"
cp "$demo/ostrel-window.png" "$root/docs/ostrel-window.png"
echo "Screenshot: $demo/ostrel-window.png (copied to docs/ostrel-window.png)"
echo "Prefix:     $WINEPREFIX"
DEMO
