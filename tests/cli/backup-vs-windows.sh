#!/usr/bin/env bash
# backup-vs-windows.sh PROBE.exe OSTREL WORK_DIR: for each box text, the Windows backup code run
# under wine64 in a fresh prefix and the Linux command reading that same prefix must write the
# same ostrel.txt, byte for byte: header, line ends and the prefix's ANSI code page alike.
set -uo pipefail
probe="$(realpath "$1")" ostrel="$(realpath "$2")" work="$3"
root="$(cd "$(dirname "$0")/../.." && pwd)"
prefix="$work/wineprefix"
export WINEDEBUG=-all
rm -rf "$work" && mkdir -p "$work/windows" "$work/linux"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
"$root/scripts/wine-prefix.sh" fresh "$prefix"
# wineserver writes system.reg (with the code page the prefix chose) when it ends.
"$root/scripts/wine-prefix.sh" stop "$prefix"

failures=0
keys=("ABCD-EFGH-1234" "  spaced  " "" "Error" 'say "hi" C:\Games\' "café €uro ā" "中文 😀")
for key in "${keys[@]}"; do
  rm -f "$work/windows/ostrel.txt" "$work/linux/ostrel.txt"
  (cd "$work/windows" && "$root/scripts/wine-run.sh" "$prefix" "$probe" "$key") ||
    { echo "FAIL: the Windows backup of '$key' failed"; failures=$((failures + 1)); continue; }
  (cd "$work/linux" && "$ostrel" backup --prefix "$prefix" --key "$key" >/dev/null) ||
    { echo "FAIL: the Linux backup of '$key' failed"; failures=$((failures + 1)); continue; }
  if ! cmp -s "$work/windows/ostrel.txt" "$work/linux/ostrel.txt"; then
    echo "FAIL: '$key': Windows wrote $(od -An -tx1 "$work/windows/ostrel.txt" | tail -2 | tr -s ' \n' ' ')," \
      "Linux wrote $(od -An -tx1 "$work/linux/ostrel.txt" | tail -2 | tr -s ' \n' ' ')"
    failures=$((failures + 1))
  fi
done
echo "${#keys[@]} box texts, $failures difference(s)"
[ "$failures" -eq 0 ]
