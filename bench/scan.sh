#!/usr/bin/env bash
# Times the Linux command's scan over 20 prefixes in a made-up home, laid out the way Steam,
# Lutris, Bottles, Heroic, PlayOnLinux and plain Wine lay them out. Every prefix carries the
# registry of a fresh wineboot (with the game's key written by Wine itself through the 32-bit
# view) and its code page table. Prints figures; it is not a test.
# Usage: bench/scan.sh [RUNS]   (default 20 scans)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/bench-scan"
runs="${1:-20}"
export WINEDEBUG=-all

cmake --preset linux -S "$root" >/dev/null
cmake --build --preset linux --target ostrel >/dev/null
ostrel="$root/build/linux/ostrel"

seed="$out/seed"
if [ ! -f "$seed/system.reg" ] || ! grep -q 'BENCH-SCAN-KEY' "$seed/system.reg"; then
  rm -rf "$out"
  mkdir -p "$out"
  xvfb-run -a bash -c '
    "$1/scripts/wine-prefix.sh" fresh "$2"
    "$1/scripts/wine-run.sh" "$2" reg add "HKLM\\SOFTWARE\\Activision\\Call of Duty 4" \
      /v codkey /t REG_SZ /d BENCH-SCAN-KEY /reg:32 /f >/dev/null
    "$1/scripts/wine-prefix.sh" stop "$2"' _ "$root" "$seed"
fi

home="$out/home"
rm -rf "$home"
place() { # FOLDER: a copy of the seed's registry files and code page table
  mkdir -p "$1/drive_c/windows/system32"
  cp "$seed"/*.reg "$1/"
  cp "$seed"/drive_c/windows/system32/c_*.nls "$1/drive_c/windows/system32/" 2>/dev/null || true
}
place "$home/.wine"
for id in 7940 10 20 30 40 50 60 70 80 90 100 2280 3012345678; do
  place "$home/.local/share/Steam/steamapps/compatdata/$id/pfx"
done
mkdir -p "$home/.config/lutris/games"
for game in cod4 quake; do
  place "$home/Games/$game"
  printf 'game:\n  exe: x.exe\n  prefix: %s\n' "$home/Games/$game" >"$home/.config/lutris/games/$game-1.yml"
done
place "$home/.local/share/bottles/bottles/Games"
place "$home/Games/Heroic/Prefixes/default/Call of Duty 4"
place "$home/.PlayOnLinux/wineprefix/CoD4"
place "$home/.PlayOnLinux/wineprefix/Other"

run_scan() { env -u WINEPREFIX -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" "$ostrel" scan; }
found="$(run_scan | wc -l)"
keys="$(run_scan | grep -c 'BENCH-SCAN-KEY$' || true)"

# Wall time depends on what else the machine runs; CPU time (user + system) much less so.
stats="$out/times"
: >"$stats"
for _ in $(seq "$runs"); do
  env -u WINEPREFIX -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" \
    /usr/bin/time -a -o "$stats" -f '%e %U %S %M' "$ostrel" scan >/dev/null
done
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
wall_ms=$(awk '{ print $1 * 1000 }' "$stats" | median)
slowest_ms=$(awk '{ print $1 * 1000 }' "$stats" | sort -n | tail -1)
cpu_ms=$(awk '{ print ($2 + $3) * 1000 }' "$stats" | median)
peak_kib=$(awk '{ print $4 }' "$stats" | sort -n | tail -1)
largest=$(stat -c %s "$seed/system.reg")

echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "Date:    $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Binary:  $(stat -c %s "$ostrel") bytes, $(file -b "$ostrel" | cut -d, -f1-4)"
echo
printf '| %-40s | %14s |\n' "Measure" "value"
printf '|%s|%s|\n' "------------------------------------------" "----------------"
printf '| %-40s | %14s |\n' "prefixes found / keys read" "$found / $keys"
printf '| %-40s | %14s |\n' "system.reg of each prefix (bytes)" "$largest"
printf '| %-40s | %14s |\n' "scan wall time, median of $runs (ms)" "$wall_ms"
printf '| %-40s | %14s |\n' "scan wall time, slowest (ms)" "$slowest_ms"
printf '| %-40s | %14s |\n' "scan CPU time (user+sys), median (ms)" "$cpu_ms"
printf '| %-40s | %14s |\n' "peak resident memory (KiB)" "$peak_kib"
printf '| %-40s | %14s |\n' "largest file read (KiB)" "$(( largest / 1024 ))"
