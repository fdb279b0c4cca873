#!/usr/bin/env bash
# Every test, under one virtual display so that all Wine programs of the run share one wineserver
# that can show windows. Prints CTest's summary and fails when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset win64 "$@"
