#!/usr/bin/env bash
# with-linux-files.sh KIND WINE_RUN PREFIX DRIVER TEST: runs one test of the UI driver in a folder
# only the Linux side can set up, holding an earlier ostrel.txt:
#   symlink  ostrel.txt is a symbolic link to real/ostrel.txt (OSTREL_SYMLINK_DIR); afterwards the
#            link must still be a link.
#   locked   a folder of root's that takes no new file, holding an ostrel.txt an ordinary user may
#            write (OSTREL_LOCKED_DIR). Root writes anywhere, so the test runs as that user, in a
#            prefix of its own (Wine insists on that), made on first use and kept. Needs root to
#            create the user and switch to it; without it the test is skipped (exit 77).
#   locked-full  the same folder on a tiny tmpfs with no room left (OSTREL_LOCKED_FULL_DIR).
set -euo pipefail
kind="$1" wine_run="$2" prefix="$3" driver="$4" test="$5"
old=$'Ostrel v1.1\r\nhttps://ostrel.example.org\r\n====================================\r\nOLD-KEY-KEEP-ME\r\n'

dir="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-$kind.XXXXXX")"
cleanup() {
  umount "$dir" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

run_test() {
  set +e
  output="$("$@" --gtest_filter="$test" 2>&1)"
  status=$?
  set -e
  printf '%s\n' "$output"
  # The driver skips the test when it is not told where its folder is: insist that it ran.
  grep -q '^\[  PASSED  \] 1 test' <<<"$output" || exit 1
  [ "$status" -eq 0 ] || exit "$status"
}

case "$kind" in
  symlink)
    mkdir "$dir/real"
    printf '%s' "$old" >"$dir/real/ostrel.txt"
    ln -s real/ostrel.txt "$dir/ostrel.txt"
    OSTREL_SYMLINK_DIR="$dir" run_test "$wine_run" "$prefix" "$driver"
    [ -L "$dir/ostrel.txt" ] || { echo "ostrel.txt is no longer a symbolic link"; exit 1; }
    ;;
  locked | locked-full)
    if [ "$(id -u)" -ne 0 ]; then
      echo "cannot run as another user (needs root): skipped"
      exit 77
    fi
    user=ostrel-test
    home=/var/lib/$user
    id -u "$user" >/dev/null 2>&1 ||
      useradd --system --home-dir "$home" --create-home --shell /usr/sbin/nologin "$user"
    user_prefix="$prefix-$user"
    # A build tree inside a private folder (/root, say) is out of that user's reach.
    if ! runuser -u "$user" -- test -r "$driver" -a -x "$(dirname "$prefix")"; then
      echo "the build tree cannot be read by other users: skipped"
      exit 77
    fi
    as_user=(runuser -u "$user" -- env HOME="$home" WINEPREFIX="$user_prefix" WINEDEBUG=-all
             DISPLAY="${DISPLAY:-}" XAUTHORITY="$dir.auth")
    # The virtual display admits whoever holds its cookie.
    install -o "$user" -m 0600 "${XAUTHORITY:-/dev/null}" "$dir.auth"
    trap 'cleanup; rm -f "$dir.auth"; "${as_user[@]}" /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
    if [ ! -f "$user_prefix/system.reg" ]; then
      rm -rf "$user_prefix"
      install -d -o "$user" "$user_prefix"
      # As in the shared prefix: windows unmanaged, or each closing one waits for a window manager.
      "${as_user[@]}" "$wine_run" "$user_prefix" reg add 'HKCU\Software\Wine\X11 Driver' \
        /v Managed /d N /f </dev/null >/dev/null 2>&1
    fi
    variable=OSTREL_LOCKED_DIR
    if [ "$kind" = locked-full ]; then
      variable=OSTREL_LOCKED_FULL_DIR
      mount -t tmpfs -o size=64k,mode=0755 tmpfs "$dir"
    fi
    printf '%s' "$old" >"$dir/ostrel.txt"
    chown "$user" "$dir/ostrel.txt"
    chmod 0644 "$dir/ostrel.txt"
    # Every block taken: ostrel.txt can be rewritten within its own page, but grow no further.
    [ "$kind" = locked ] || dd if=/dev/zero of="$dir/filler" bs=4096 2>/dev/null || true
    chmod 0555 "$dir"
    run_test "${as_user[@]}" "$variable=$dir" "$wine_run" "$user_prefix" "$driver"
    chmod 0755 "$dir"
    ;;
  *) echo "usage: $0 symlink|locked|locked-full WINE_RUN PREFIX DRIVER TEST" >&2; exit 2 ;;
esac
