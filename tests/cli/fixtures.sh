# shellcheck shell=bash
# Sourced by the command's tests: the fixtures they share.

# A 64-bit prefix as Wine writes it: the game's key sits under Wow6432Node.
prefix() { # DIR KEY-LINE...
  mkdir -p "$1"
  {
    printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n'
    printf '[Software\\\\Wow6432Node\\\\Activision\\\\Call of Duty 4] 1700000000\n'
    printf '#time=1da0f1b2c3d4e5f\n'
    shift
    for line in "$@"; do printf '%s\n' "$line"; done
    printf '\n'
  } >"$1/system.reg"
}
# The backup's first three lines.
header=$'Ostrel v1.1\r\nhttps://ostrel.example.org\r\n====================================\r\n'
