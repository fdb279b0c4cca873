#!/usr/bin/env bash
# release-linux.sh DISTDIR: builds the Linux command from a clean tree of its own and puts it in
# DISTDIR as ostrel-<major>.<minor>-linux-x86_64. Refuses a binary that would need a dynamic
# loader or a shared library, since it must run on SteamOS's read-only root as downloaded. The
# build is reproducible: the same sources give the same bytes, whatever folder they sit in.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -eq 1 ] || { echo "usage: $0 DISTDIR" >&2; exit 2; }
mkdir -p "$1"
dist="$(cd "$1" && pwd)"

version_part() { sed -n "s/^#define OSTREL_VERSION_$1 \([0-9]*\)$/\1/p" "$root/platform/Version.h"; }
name="ostrel-$(version_part MAJOR).$(version_part MINOR)-linux-x86_64"

build="$root/build/linux-release"
rm -rf "$build"
# The linux preset's own settings, in a folder of its own and without the tests.
cmake -S "$root" --preset linux -B "$build" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target ostrel -j2 >/dev/null

if readelf -lW "$build/ostrel" | grep -q 'INTERP' || readelf -dW "$build/ostrel" | grep -q NEEDED; then
  echo "release-linux: $build/ostrel is not fully static" >&2
  exit 1
fi
install -m 0755 "$build/ostrel" "$dist/$name"
touch -d @0 "$dist/$name"
echo "$dist/$name"
