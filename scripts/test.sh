#!/usr/bin/env bash
# Every test: the registry reader under sanitizers and its fuzz run on the host, then the Windows
# suite under one virtual display, so that all Wine programs of the run share one wineserver that
# can show windows, then the shipped 32-bit program under 32-bit Wine (set up on first use, in
# /var/cache/ostrel-i686). Prints each CTest summary and fails when any test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
status=0

echo "== Lint: clang-format, clang-tidy, cppcheck"
./scripts/lint.sh || status=1

echo "== Registry reader on the host (AddressSanitizer, UBSan, libFuzzer)"
ctest --preset host-asan || status=1

echo "== Linux build: the prefix reader on hand-made files, and against Wine's own registry"
ctest --preset linux || status=1

echo "== Windows suite under Wine (x86_64 build) and audits of both executables"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset win64 "$@" || status=1

echo "== The shipped program (i686 build) under 32-bit Wine"
i686_start=$SECONDS
if ./scripts/i686-wine.sh setup; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset i686 || status=1
else
  echo "i686: set-up failed"
  status=1
fi
./scripts/i686-wine.sh teardown || status=1
echo "== The i686 part took $((SECONDS - i686_start)) s"

exit $status
