#!/usr/bin/env bash
# release.sh: builds the shipped 32-bit program from scratch and writes to dist/
#   ostrel-MAJOR.MINOR-win32.zip   ostrel.exe, README.txt (CR LF line ends), the licence if any
#   SHA256SUMS                     the hash of every other file in dist/
# plus the Linux command when scripts/release-linux.sh is there. The same sources give the same
# zip in any folder: entries in a fixed order, with fixed times and attributes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# MAJOR.MINOR from the project's version (project(... VERSION) in CMakeLists.txt), or from
# platform/Version.h where that is where the numbers are written.
version="$(sed -n 's/^project([A-Za-z]* VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)"
if [ -z "$version" ] && [ -f platform/Version.h ]; then
  version_part() { sed -n "s/^#define OSTREL_VERSION_$1 \([0-9]*\)$/\1/p" platform/Version.h; }
  version="$(version_part MAJOR).$(version_part MINOR)"
fi
[[ "$version" =~ ^[0-9]+\.[0-9]+$ ]] || { echo "release: no version found" >&2; exit 1; }

# A build tree of its own, made fresh, so nothing left over from development reaches the zip.
build="$root/build/release-win32"
rm -rf "$build"
mkdir -p "$root/build"
cmake -S "$root" --preset win32 -B "$build" >"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build "$build" --target ostrel -j2 >>"$build.log" 2>&1 || { cat "$build.log"; exit 1; }

dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist"
zip="$dist/ostrel-$version-win32.zip"
licence=""
for candidate in LICENSE LICENSE.txt COPYING; do
  [ -f "$candidate" ] && licence="$candidate" && break
done

# The zip's times: the last commit's, so that a release says when its sources last changed and
# two builds of the same commit agree; outside a git checkout, 1980-01-01 (zip's first day).
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}"

/usr/bin/python3 - "$zip" "$epoch" "$version" "$build/ostrel.exe" res/README.txt "$licence" <<'PY'
import sys
import time
import zipfile

out, epoch, version, exe, readme, licence = sys.argv[1:]
# Zip stores local times with two-second steps and nothing before 1980.
stamp = time.gmtime(max(int(epoch), 315532800))[:6]


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


entries = [("ostrel.exe", open(exe, "rb").read()),
           ("README.txt", crlf(open(readme, encoding="utf-8").read().replace("@VERSION@", version)))]
if licence:
    entries.append(("LICENSE.txt", crlf(open(licence, encoding="utf-8").read())))

with zipfile.ZipFile(out, "w") as archive:
    for name, data in entries:
        info = zipfile.ZipInfo(name, date_time=stamp)
        info.create_system = 0  # MS-DOS attributes, the same whichever system packs it
        info.external_attr = 0x20  # "archive", as Explorer's own zips have
        info.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(info, data, compresslevel=9)
PY

if [ -x scripts/release-linux.sh ]; then
  scripts/release-linux.sh "$dist"
fi

# Every file in dist/ but the list itself, in a fixed order.
(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
  xargs sha256sum -- >SHA256SUMS)
echo "release: $(cd "$dist" && ls | tr '\n' ' ')"
cat "$dist/SHA256SUMS"
