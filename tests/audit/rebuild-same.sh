#!/usr/bin/env bash
# rebuild-same.sh SOURCE SHIPPED_EXE WORK: configures and builds the win32 preset again in WORK and
# compares the new ostrel.exe with SHIPPED_EXE byte for byte.
set -euo pipefail
source_dir="$1" shipped="$2" work="$3"
rm -rf "$work"
cmake -S "$source_dir" --preset win32 -B "$work" >"$work.log" 2>&1 || { cat "$work.log"; exit 1; }
cmake --build "$work" --target ostrel >>"$work.log" 2>&1 || { cat "$work.log"; exit 1; }
if cmp -s "$shipped" "$work/ostrel.exe"; then
  echo "identical: $shipped and $work/ostrel.exe ($(stat -c %s "$shipped") bytes)"
  rm -rf "$work" "$work.log"
  exit 0
fi
echo "DIFFERENT: $shipped and $work/ostrel.exe"
echo "(a shipped build older than the sources also differs: build the win32 preset first)"
echo "sizes: $(stat -c %s "$shipped") vs $(stat -c %s "$work/ostrel.exe"); first differing bytes:"
cmp -l "$shipped" "$work/ostrel.exe" | head -n 10 || true
diff <(objdump -h "$shipped" | tail -n +5) <(objdump -h "$work/ostrel.exe" | tail -n +5) || true
exit 1
