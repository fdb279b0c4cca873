#!/usr/bin/env bash
# release-linux.sh DISTDIR: builds the Linux command from a clean tree of its own and puts it in
# DISTDIR as ostrel-<major>.<minor>-linux-x86_64, for terminal users, and packed with its launcher
# as ostrel-<major>.<minor>-linux-x86_64.tar.gz, for players who double-click: a browser's
# download loses the execute bit, a tarball keeps it. Refuses a binary that would need a dynamic
# loader or a shared library, since it must run on SteamOS's read-only root as downloaded. The
# build is reproducible: the same sources give the same bytes, whatever folder they sit in.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -eq 1 ] || { echo "usage: $0 DISTDIR" >&2; exit 2; }
mkdir -p "$1"
dist="$(cd "$1" && pwd)"

version_part() { sed -n "s/^#define OSTREL_VERSION_$1 \([0-9]*\)$/\1/p" "$root/platform/Version.h"; }
version="$(version_part MAJOR).$(version_part MINOR)"
name="ostrel-$version-linux-x86_64"

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

# The tarball: one folder, the launcher executable as KDE wants it outside its menus, owner,
# times and order fixed, and gzip without a name or time of its own. Its times are the last
# commit's, as the zip's are.
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}"
stage="$build/stage"
folder="ostrel-$version"
rm -rf "$stage"
mkdir -p "$stage/$folder"
chmod 0755 "$stage/$folder"
install -m 0755 "$build/ostrel" "$stage/$folder/ostrel"
install -m 0755 "$root/res/ostrel.desktop" "$stage/$folder/ostrel.desktop"
sed "s/@VERSION@/$version/g" "$root/res/README-linux.txt" >"$stage/$folder/README.txt"
chmod 0644 "$stage/$folder/README.txt"
tar -C "$stage" --create --format=ustar --no-recursion --owner=0 --group=0 --numeric-owner \
  --mtime="@$epoch" "$folder" "$folder/ostrel" "$folder/ostrel.desktop" "$folder/README.txt" |
  gzip -9 -n >"$dist/$name.tar.gz"
touch -d "@$epoch" "$dist/$name.tar.gz"
echo "$dist/$name.tar.gz"
