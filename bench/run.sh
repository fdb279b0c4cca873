#!/usr/bin/env bash
# Builds the bare window and the measuring program with ostrel's own flags, for both presets, in
# build/bench; then runs the benchmark under 64-bit Wine on a virtual display, in a throwaway
# prefix seeded with a sample key, and prints the machine and the table.
# Usage: bench/run.sh [RUNS]   (default 15 runs of each program)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/bench"
runs="${1:-15}"
export WINEDEBUG=-all

build() {
  local preset="$1" dir="$out/$1"
  shift
  cmake -S "$root" --preset "$preset" -B "$dir" -DBUILD_TESTING=OFF -DOSTREL_BENCH=ON \
    >"$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
  cmake --build "$dir" --target "$@" >>"$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
}
mkdir -p "$out"
build win32 ostrel bare_window floor_window
build win64 ostrel bare_window bare_window_manifest floor_window ostrel_bench

echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "Wine:    $(/usr/lib/wine/wine64 --version)"
echo "Date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo

mkdir -p "$out/cwd"
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -s "$root" "$out" "$runs" <<'RUN'
set -euo pipefail
root="$1" out="$2" runs="$3"
prefix="$out/wineprefix"
win() { printf 'Z:%s' "${1//\//\\}"; }
"$root/scripts/wine-prefix.sh" fresh "$prefix"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
key='BENCH-4K7Q-2MXW-9P3R'
"$root/scripts/wine-run.sh" "$prefix" reg add 'HKLM\SOFTWARE\Activision\Call of Duty 4' \
  /v codkey /t REG_SZ /d "$key" /f >/dev/null
"$root/scripts/wine-run.sh" "$prefix" "$out/win64/ostrel_bench.exe" "$runs" \
  "$(win "$out/win64/ostrel.exe")" "$(win "$out/win64/bare_window.exe")" \
  "$(win "$out/win64/bare_window_manifest.exe")" "$(win "$out/win64/floor_window.exe")" \
  "$(win "$out/cwd")" "$key" \
  "i686-bare=$(win "$out/win32/bare_window.exe")" "i686-floor=$(win "$out/win32/floor_window.exe")" \
  "i686 (shipped)=$(win "$out/win32/ostrel.exe")" \
  "x86_64-bare=$(win "$out/win64/bare_window.exe")" "x86_64-floor=$(win "$out/win64/floor_window.exe")" \
  "x86_64=$(win "$out/win64/ostrel.exe")" |
  tr -d '\r'
RUN
