#!/usr/bin/env bash
# Opens Ostrel under Wine on the user's display, in the user's own WINEPREFIX.
set -euo pipefail
cd "$(dirname "$0")/.."
exec /usr/lib/wine/wine64 build/win64/ostrel.exe
