#!/usr/bin/env bash
# hostile.sh OSTREL: how the command's work grows with hostile prefixes. Prints, for each, the
# wall time and peak memory of `ostrel recover` (GNU time): links that fan out, a key with 100,000
# values, 25 values of 1 MiB in the game's key, and a 200 MB system.reg.
set -euo pipefail
ostrel="$(realpath "$1")"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-hostile.XXXXXX")"
trap 'rm -rf "$work"' EXIT
header=$'WINE REGISTRY Version 2\n#arch=win32\n'
measure() { # NAME DIR
  /usr/bin/time -f "%e %M" -o "$work/time" "$ostrel" recover --prefix "$2" >/dev/null 2>&1 || true
  read -r seconds kib < <(tail -n 1 "$work/time")
  printf '%-40s %8s s %8s KiB  (system.reg %s bytes)\n' "$1" "$seconds" "$kib" "$(stat -c %s "$2/system.reg")"
}
link() { # the UTF-16LE hex of a link target
  printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

# Each link names the next one four times over, and the last leads back to Software, so every
# name on the way resolves, within the depth of 16 links: without a bound, 4^12 lookups.
mkdir -p "$work/fanout"
{
  printf '%s' "$header"
  for i in $(seq 0 11); do
    n=$((i + 1))
    printf '[Software\\\\L%d] 0\n#link\n"SymbolicLinkValue"=hex(6):%s\n' "$i" \
      "$(link "\\Registry\\Machine\\Software\\L$n\\L$n\\L$n\\L$n")"
  done
  printf '[Software\\\\L12] 0\n#link\n"SymbolicLinkValue"=hex(6):%s\n' "$(link '\Registry\Machine\Software')"
  printf '[Software\\\\Activision] 0\n#link\n"SymbolicLinkValue"=hex(6):%s\n' "$(link '\Registry\Machine\Software\L0')"
} >"$work/fanout/system.reg"
measure "links fanning out (12 levels x 4)" "$work/fanout"

mkdir -p "$work/values"
{
  printf '%s[Software\\\\Activision\\\\Call of Duty 4] 0\n' "$header"
  seq 1 100000 | sed 's/.*/"v&"="value &"/'
  printf '"codkey"="LAST"\n'
} >"$work/values/system.reg"
measure "100,000 values in the game's key" "$work/values"

mkdir -p "$work/big-values"
{
  printf '%s[Software\\\\Activision\\\\Call of Duty 4] 0\n' "$header"
  for i in $(seq 1 25); do printf '"v%d"="%s"\n' "$i" "$(head -c 1000000 /dev/zero | tr '\0' x)"; done
  printf '"codkey"="KEY"\n'
} >"$work/big-values/system.reg"
measure "25 values of 1 MB in the game's key" "$work/big-values"

mkdir -p "$work/huge"
{
  printf '%s' "$header"
  seq 1 2000000 | sed 's/.*/[Software\\\\\\\\Filler\\\\\\\\Key&] 0\n"v"="0123456789012345678901234567890123456789012345678901234567890123"/'
  printf '[Software\\\\Activision\\\\Call of Duty 4] 0\n"codkey"="KEY"\n'
} >"$work/huge/system.reg"
measure "a 200 MB system.reg" "$work/huge"
