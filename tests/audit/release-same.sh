#!/usr/bin/env bash
# release-same.sh SOURCE WORK: clones SOURCE twice, into folders of different names and depths
# under WORK, runs scripts/release.sh in each and requires identical zips and Linux tarballs, a
# SHA256SUMS that checks, and a zip that holds exactly the program that clone built, byte for byte.
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
for name in $(cd "$first" && ls ostrel-*-win32.zip ostrel-*-linux-x86_64.tar.gz); do
  if cmp "$first/$name" "$second/$name"; then
    echo "identical: $name ($(stat -c %s "$first/$name") bytes)"
  else
    echo "DIFFERENT: $name"; status=1
  fi
done
zip_name="$(cd "$first" && ls ostrel-*-win32.zip)"
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
