#!/usr/bin/env bash
# release-test.sh OSTREL: the release script builds, in a tree of its own, a file with exactly the
# bytes of the tested command (same sources, same bytes), named for the version, that needs no
# dynamic loader or shared library, and that runs; and the players' tarball around it, whose
# launcher starts it in its own folder.
set -euo pipefail
ostrel="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
dist="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-release.XXXXXX")"
trap 'rm -rf "$dist"' EXIT

"$root/scripts/release-linux.sh" "$dist" >/dev/null
shipped="$dist/ostrel-1.1-linux-x86_64"
tarball="$dist/ostrel-1.1-linux-x86_64.tar.gz"
[ "$(ls "$dist" | tr '\n' ' ')" = "ostrel-1.1-linux-x86_64 ostrel-1.1-linux-x86_64.tar.gz " ] ||
  { echo "dist holds: $(ls "$dist")"; exit 1; }
cmp "$shipped" "$ostrel" || { echo "the release build differs from the tested one"; exit 1; }
if readelf -lW "$shipped" | grep -q INTERP || readelf -dW "$shipped" | grep -q NEEDED; then
  echo "not static"
  exit 1
fi
[ "$("$shipped" --version)" = "ostrel 1.1" ] || { echo "does not run"; exit 1; }
echo "release: $(stat -c %s "$shipped") bytes, $(sha256sum "$shipped" | cut -c1-16)"

# The tarball: one folder, modes a double-click needs, root as owner; packed again under another
# umask, the same bytes.
listing="$(tar -tvzf "$tarball" | awk '{print $1, $2, $6}')"
[ "$listing" = "drwxr-xr-x 0/0 ostrel-1.1/
-rwxr-xr-x 0/0 ostrel-1.1/ostrel
-rwxr-xr-x 0/0 ostrel-1.1/ostrel.desktop
-rw-r--r-- 0/0 ostrel-1.1/README.txt" ] || { echo "tarball holds: $listing"; exit 1; }
(umask 077 && "$root/scripts/release-linux.sh" "$dist/again" >/dev/null)
cmp "$tarball" "$dist/again/ostrel-1.1-linux-x86_64.tar.gz" || { echo "packed twice, differs"; exit 1; }
copy="$dist/extracted copy"
mkdir -p "$copy" && tar -xzf "$tarball" -C "$copy"
cmp "$copy/ostrel-1.1/ostrel" "$ostrel" || { echo "the tarball's program is not the tested one"; exit 1; }
desktop-file-validate "$copy/ostrel-1.1/ostrel.desktop" || exit 1

# The launcher, from another folder. GLib's GDesktopAppInfo from the file (as GLib's file managers
# start a launcher) fills in %k: the program must run in the launcher's folder, and the stand-in
# kdialog records where. gio launch on this GLib reads the file without its name and leaves %k
# empty: the launcher must then run nothing, not an "ostrel" in the folder it was started from.
launch="$dist/launch"
mkdir -p "$launch/bin" "$launch/home" "$launch/elsewhere"
printf '#!/bin/sh\npwd >>"%s/ran"\nexit 1\n' "$launch" >"$launch/bin/kdialog"
printf '#!/bin/sh\necho decoy >>"%s/ran"\n' "$launch" >"$launch/elsewhere/ostrel"
chmod +x "$launch/bin/kdialog" "$launch/elsewhere/ostrel"
(cd "$launch/elsewhere" && env -i HOME="$launch/home" PATH="$launch/bin:/usr/bin:/bin" \
  xvfb-run -a sh -c 'gio launch "$1" && /usr/bin/python3 -c "
import sys, gi
gi.require_version(\"Gio\", \"2.0\")
from gi.repository import Gio
Gio.DesktopAppInfo.new_from_filename(sys.argv[1]).launch([], None)" "$1"' sh \
  "$copy/ostrel-1.1/ostrel.desktop") </dev/null >"$launch/out" 2>&1 || { cat "$launch/out"; exit 1; }
for _ in $(seq 100); do [ -s "$launch/ran" ] && break; sleep 0.1; done
[ "$(cat "$launch/ran" 2>/dev/null)" = "$copy/ostrel-1.1" ] ||
  { echo "launcher ran: $(cat "$launch/ran" 2>/dev/null)"; cat "$launch/out"; exit 1; }
echo "tarball: $(stat -c %s "$tarball") bytes, $(sha256sum "$tarball" | cut -c1-16)"
