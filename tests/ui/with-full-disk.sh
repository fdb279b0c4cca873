#!/usr/bin/env bash
# with-full-disk.sh WINE_RUN PREFIX DRIVER TEST: runs one test of the UI driver with
# OSTREL_FULL_DISK_DIR set to a tiny tmpfs that holds an earlier ostrel.txt and has less room
# left than a backup needs. Mounting needs root; without it the test is skipped (exit 77).
set -euo pipefail
wine_run="$1" prefix="$2" driver="$3" test="$4"

dir="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-full-disk.XXXXXX")"
cleanup() {
  umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
  rmdir "$dir" 2>/dev/null || true
}
trap cleanup EXIT

if ! mount -t tmpfs -o size=64k,mode=0777 tmpfs "$dir" 2>/dev/null; then
  echo "cannot mount a tmpfs (needs root): skipped"
  exit 77
fi
printf 'Ostrel v1.1\r\nhttps://ostrel.example.org\r\n====================================\r\nOLD-KEY-ON-FULL-DISK\r\n' \
  >"$dir/ostrel.txt"
# Fill every block, then give one page back: the next write starts and then runs out of space.
dd if=/dev/zero of="$dir/filler" bs=4096 2>/dev/null || true
truncate -s -4096 "$dir/filler"
df -B1 "$dir" | tail -1

export OSTREL_FULL_DISK_DIR="$dir"
set +e
output="$("$wine_run" "$prefix" "$driver" --gtest_filter="$test" 2>&1)"
status=$?
set -e
printf '%s\n' "$output"
# The driver skips the test when it is not told where the full disk is: insist that it ran.
grep -q '^\[  PASSED  \] 1 test' <<<"$output" || exit 1
exit "$status"
