#!/usr/bin/env bash
# release-same.sh SOURCE WORK: clones SOURCE twice, into folders of different names and depths
# under WORK, runs scripts/release.sh in each and requires identical zips, a SHA256SUMS that
# checks, and a zip that holds exactly the program that clone built, byte for byte.
set -euo pipefail
source_dir="$1" work="$2"
rm -rf "$work"
mkdir -p "$work"
clones=("$work/a" "$work/another/clone")
for clone in "${clones[@]}"; do
  git clone -q "$source_dir" "$clone"
  (cd "$clone" && ./scripts/release.sh >"$clone.log" 2>&1) || { cat "$clone.log"; exit 1; }
done
status=0
first="${clones[0]}/dist" second="${clones[1]}/dist"
zip_name="$(cd "$first" && ls ostrel-*-win32.zip)"
if cmp "$first/$zip_name" "$second/$zip_name"; then
  echo "identical: $zip_name ($(stat -c %s "$first/$zip_name") bytes)"
else
  echo "DIFFERENT: $zip_name"; status=1
fi
(cd "$first" && sha256sum --check --strict SHA256SUMS) || status=1
/usr/bin/python3 - "$first/$zip_name" "${clones[0]}/build/release-win32/ostrel.exe" <<'PY' || status=1
import sys
import zipfile

archive = zipfile.ZipFile(sys.argv[1])
print("entries:", ", ".join(archive.namelist()))
if archive.read("ostrel.exe") != open(sys.argv[2], "rb").read():
    sys.exit("the zip's ostrel.exe is not the one built")
PY
[ "$status" -eq 0 ] && rm -rf "$work"
exit "$status"
