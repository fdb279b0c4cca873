#!/usr/bin/env bash
# Opens Ostrel under Wine, from build/run, so that its ostrel.txt lands there and never in the
# sources. Builds only what it runs.
#   On a display: the shipped 32-bit program in the user's own WINEPREFIX, where a game installed
#   under Wine keeps its key. It needs a machine that can run 32-bit code and 32-bit Wine
#   (wine32:i386, installed here when missing). A machine that cannot is told so, and the Linux
#   build reads the key out of the prefix instead: the 64-bit program would look in the 64-bit
#   registry view, where a 32-bit game's key is not, and show "Error" for a key that is there.
#   Without a display, or with --screenshot: a short demo in a throwaway prefix seeded with a
#   sample key, on a virtual display, with a screenshot in build/demo; --screenshot also copies
#   it to docs/ostrel-window.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEDEBUG="${WINEDEBUG:--all}"
screenshot=0
case "${1:-}" in
  --screenshot) screenshot=1 ;;
  "") ;;
  *) echo "usage: $0 [--screenshot]" >&2; exit 2 ;;
esac

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# Configures a preset and builds just the given targets (no GoogleTest, no test programs).
build() {
  local preset="$1" log="$root/build/$1.run.log"
  shift
  mkdir -p "$root/build"
  { cmake --preset "$preset" && cmake --build --preset "$preset" --target "$@"; } >"$log" 2>&1 ||
    { cat "$log"; exit 1; }
}

# Whether the kernel runs i386 code itself (an emulator registered for it does not count).
can_run_32bit() {
  case "$(uname -m)" in x86_64 | i?86) ;; *) return 1 ;; esac
  "$root/scripts/i686-wine.sh" native
}

# 32-bit Wine, from Debian's i386 architecture, added to dpkg only here and only when needed.
ensure_wine32() {
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    return
  fi
  echo "Installing 32-bit Wine (wine32:i386) to run the shipped 32-bit program."
  dpkg --print-foreign-architectures | grep -qx i386 || "${sudo_cmd[@]}" dpkg --add-architecture i386
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
    wine32:i386
}

if [ -n "${DISPLAY:-}" ] && [ "$screenshot" -eq 0 ]; then
  if ! can_run_32bit; then
    cat >&2 <<'MSG'
This machine cannot run 32-bit programs, so it cannot run Ostrel as shipped: a 32-bit Windows
program that reads the key from the registry view a 32-bit game wrote it to. The 64-bit build
would look in the 64-bit view, where that key is not, and show "Error". So here the Linux build
reads the key straight out of the prefix instead (build/linux/ostrel recover [--prefix DIR];
backup and scan work the same way):
MSG
    build linux ostrel
    exec "$root/build/linux/ostrel" recover
  fi
  ensure_wine32
  build win32 ostrel
  mkdir -p "$root/build/run"
  cd "$root/build/run"
  echo "Prefix: ${WINEPREFIX:-$HOME/.wine}; Backup saves to $root/build/run/ostrel.txt"
  exec /usr/lib/wine/wine "$root/build/win32/ostrel.exe"
fi

build win64 ostrel ostrel_demo
demo="$root/build/demo"
echo "Running a demo in a throwaway prefix with a sample key, on a virtual display."
rm -rf "$demo"
mkdir -p "$demo/cwd"
export WINEPREFIX="$demo/prefix"
# The same throwaway prefix the tests use: one wineserver, Wine's fonts, windows left unmanaged
# so that Wine draws the frame itself on a display with no window manager.
exec xvfb-run -a -s "-screen 0 640x400x24" bash -s "$root" "$demo" "$screenshot" <<'DEMO'
set -euo pipefail
root="$1" demo="$2" screenshot="$3"
"$root/scripts/wine-prefix.sh" fresh "$WINEPREFIX"
trap '"$root/scripts/wine-prefix.sh" stop "$WINEPREFIX"' EXIT
"$root/scripts/wine-run.sh" "$WINEPREFIX" reg add 'HKLM\SOFTWARE\Activision\Call of Duty 4' \
  /v codkey /d 'DEMO7K2QXW4P9M3RTB8N' /f >/dev/null
(cd "$demo/cwd" && /usr/lib/wine/wine64 "$root/build/win64/ostrel.exe" &)
read -r x y w h < <(cd "$demo/cwd" && /usr/lib/wine/wine64 "$root/build/win64/tools/ostrel_demo.exe" | tr -d '\r')
sleep 0.5
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$demo/ostrel-window.png"
echo "Screenshot: $demo/ostrel-window.png"
if [ "$screenshot" -eq 1 ]; then
  cp "$demo/ostrel-window.png" "$root/docs/ostrel-window.png"
  echo "Copied to:  docs/ostrel-window.png"
fi
echo "Prefix:     $WINEPREFIX"
DEMO
