#!/usr/bin/env bash
# registry-untouched.sh WINE_RUN PREFIX SESSION_EXE WORK
# Seeds the game's key, exports the whole registry of the prefix (machine and users), runs one
# session in ostrel's window (SESSION_EXE), exports again and compares. Seeding comes before the
# first export so that only the session itself is compared. The key is removed again at the end.
set -euo pipefail
wine_run="$1" prefix="$2" session="$3" work="$4"
wine() { "$wine_run" "$prefix" "$@"; }
key='HKLM\SOFTWARE\Activision\Call of Duty 4'
seeded='AUDT-7Q2K-M4XW-9P3R'

rm -rf "$work"
mkdir -p "$work/cwd"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

cleanup() { wine reg delete 'HKLM\SOFTWARE\Activision' /f >/dev/null 2>&1 || true; }
trap cleanup EXIT
wine reg add "$key" /v codkey /t REG_SZ /d "$seeded" /f >/dev/null

# reg export reads the live registry from the wineserver (the files on disk lag behind) and writes
# no time stamps, so two exports of an unchanged registry are identical. HKU holds every user's
# hive, HKCU included; HKCR is a view of HKLM and HKCU.
export_all() {
  local name="$1" root
  for root in HKLM HKU; do
    wine reg export "$root" "$(windows_path "$work/$name-$root.reg")" /y >/dev/null
    # Left out, as Wine's own live state rather than anything a program wrote: the per-session
    # copy of system parameters that user32 fills in as programs start, and the device manager's
    # bookkeeping (device interfaces linked and unlinked, the current service set), which Wine's
    # services update while the wineserver of the test run stays up.
    iconv -f UTF-16LE -t UTF-8 "$work/$name-$root.reg" | tr -d '\r' |
      awk '/^\[/ { skip = index($0, "\\Software\\Wine\\Temporary System Parameters") > 0 ||
                        index($0, "\\Control\\DeviceClasses\\") > 0 ||
                        index($0, "\\Control\\ServiceCurrent") > 0 }
           !skip' >"$work/$name-$root.txt"
  done
}

export_all before
status=0
echo "session:"
if ! (cd "$work/cwd" && wine "$session" "$seeded" "$(windows_path "$work/cwd")") | tr -d '\r'; then
  echo "FAIL the session did not go as a user's would"
  status=1
fi
export_all after

for root in HKLM HKU; do
  lines=$(wc -l <"$work/before-$root.txt")
  if ! diff -u "$work/before-$root.txt" "$work/after-$root.txt" >"$work/$root.diff"; then
    echo "FAIL the session changed $root:"
    head -n 60 "$work/$root.diff"
    status=1
  else
    echo "ok   $root unchanged ($lines lines compared)"
  fi
done
grep -q -F "$seeded" "$work/before-HKLM.txt" || { echo "FAIL the seeded key is not in the export"; status=1; }
exit $status
