#!/usr/bin/env bash
# release-test.sh OSTREL: the release script builds, in a tree of its own, a file with exactly the
# bytes of the tested command (same sources, same bytes), named for the version, that needs no
# dynamic loader or shared library, and that runs.
set -euo pipefail
ostrel="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
dist="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-release.XXXXXX")"
trap 'rm -rf "$dist"' EXIT

"$root/scripts/release-linux.sh" "$dist" >/dev/null
shipped="$dist/ostrel-1.1-linux-x86_64"
[ "$(ls "$dist")" = "ostrel-1.1-linux-x86_64" ] || { echo "dist holds: $(ls "$dist")"; exit 1; }
cmp "$shipped" "$ostrel" || { echo "the release build differs from the tested one"; exit 1; }
if readelf -lW "$shipped" | grep -q INTERP || readelf -dW "$shipped" | grep -q NEEDED; then
  echo "not static"
  exit 1
fi
[ "$("$shipped" --version)" = "ostrel 1.1" ] || { echo "does not run"; exit 1; }
echo "release: $(stat -c %s "$shipped") bytes, $(sha256sum "$shipped" | cut -c1-16)"
