#!/usr/bin/env bash
# Runs 32-bit Windows programs under Debian's own 32-bit Wine, for the tests of the shipped i686 build.
#
#   i686-wine.sh setup             builds (once) a bookworm chroot with wine64 and wine32:i386 and a
#                                  64-bit prefix in it, under $OSTREL_I686_CACHE (/var/cache/ostrel-i686)
#   i686-wine.sh run DIR CMD...    runs CMD inside the chroot in DIR, which it sees at the same path,
#                                  WINEPREFIX set and the caller's X display reachable
#   i686-wine.sh teardown          ends the chroot's wineserver, undoes any mount left behind and
#                                  takes back the qemu entry from binfmt_misc
#   i686-wine.sh purge             teardown, then deletes the cache
#   i686-wine.sh native            succeeds where the kernel itself runs 32-bit code
#
# The machine's own Wine and packages stay as they are: everything 32-bit lives in the chroot. Where the
# kernel cannot run 32-bit code, qemu-user runs the chroot's i386 programs through binfmt_misc; elsewhere
# they run natively. Needs root (CI runs as root; a developer is asked for sudo).
set -euo pipefail

[ "$(id -u)" -eq 0 ] || exec sudo -E "$0" "$@"

cache="${OSTREL_I686_CACHE:-/var/cache/ostrel-i686}"
root="$cache/root"
# Bumped whenever what setup builds changes, so that an old cache is rebuilt rather than trusted.
recipe=1
stamp="$root/.ostrel-i686-ready"
binfmt=/proc/sys/fs/binfmt_misc
binfmt_name=ostrel-i386
prefix_in_root=/ostrel/prefix
here="$(cd "$(dirname "$0")" && pwd)"

log() { echo "i686-wine: $*" >&2; }

install_host_packages() {
  local missing=() p
  for p in qemu-user-static binfmt-support debootstrap; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The smallest i386 program that tells 32-bit from 64-bit execution: it exits with 1 where the CPU
# runs it as 32-bit code (0x40 is "inc eax") and with 0 where it runs as 64-bit code (0x40 is a REX
# prefix). A kernel that runs it natively must answer 1.
write_probe() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'    # ELF32, little-endian
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'           # executable, i386, entry
  printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'           # program headers at 52
  printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'           # sizes, one program header
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'  # PT_LOAD of the file
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'  # 96 bytes, r-x
  printf '\x31\xc0\x40\x89\xc3'       # xor eax,eax; inc eax; mov ebx,eax
  printf '\xb8\x01\x00\x00\x00\xcd\x80' # mov eax,1 (exit); int 0x80
}

ensure_binfmt_mounted() {
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
}

runs_32bit_natively() {
  local probe status=0 entry disabled=()
  probe="$(mktemp)"
  write_probe >"$probe"
  chmod +x "$probe"
  # An emulator registered for i386 programs (ours, or qemu-user-static's own) would answer for
  # the kernel; ask the kernel alone.
  for entry in "$binfmt"/*; do
    if [ -f "$entry" ] && grep -q '^enabled' "$entry" 2>/dev/null &&
      grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" 2>/dev/null; then
      echo 0 >"$entry" && disabled+=("$entry")
    fi
  done
  "$probe" 2>/dev/null || status=$?
  for entry in "${disabled[@]}"; do echo 1 >"$entry"; done
  rm -f "$probe"
  [ $status -eq 1 ]
}

# qemu-user for every i386 ELF. F opens the interpreter now, so it works inside the chroot without a
# copy there; P keeps argv[0] as the program gave it, which Wine's loader relies on.
register_qemu() {
  [ -e "$binfmt/$binfmt_name" ] && { echo 1 >"$binfmt/$binfmt_name"; return 0; }
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":$binfmt_name:M::$magic:$mask:/usr/bin/qemu-i386-static:FP" >"$binfmt/register"
}

# OSTREL_I686_EMULATE=1 takes the qemu road even where the kernel could do without it, to try that
# road on a machine that does not need it.
ensure_32bit_runs() {
  ensure_binfmt_mounted
  if [ "${OSTREL_I686_EMULATE:-0}" != 1 ] && runs_32bit_natively; then
    log "this kernel runs 32-bit code: the chroot's wine32 runs natively"
    # An entry left by an emulated run would put qemu between the kernel and every i386 program.
    [ ! -e "$binfmt/$binfmt_name" ] || echo 0 >"$binfmt/$binfmt_name"
  else
    log "running 32-bit code through qemu-user"
    register_qemu
  fi
}

# The mirror this machine's apt already uses for bookworm, so the chroot needs no other way out.
debian_mirror() {
  local uri
  uri="$(grep -hs -A3 '^URIs:' /etc/apt/sources.list.d/*.sources | awk '
      /^URIs:/ { u = $2 } /^Suites:.*bookworm( |$)/ && u ~ /debian\/?$/ { print u; exit }')"
  [ -n "$uri" ] || uri="$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)"
  echo "${uri:-http://deb.debian.org/debian}"
}

mount_chroot() {
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mkdir -p "$root/tmp/.X11-unix"
  [ -d /tmp/.X11-unix ] && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  return 0
}

# Runs a command in the chroot inside a private mount namespace: its mounts vanish with it, whatever
# happens to the caller.
in_chroot() {
  unshare --mount --propagation private -- "$here/i686-wine.sh" __inside "$@"
}

setup() {
  install_host_packages
  ensure_32bit_runs
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
    log "reusing $root"
    return 0
  fi
  local mirror start=$SECONDS
  mirror="$(debian_mirror)"
  mkdir -p "$cache"
  if [ ! -x "$root/usr/bin/apt-get" ] || [ ! -f "$root/.ostrel-debootstrap-done" ]; then
    rm -rf "$root"
    log "debootstrap bookworm from $mirror (a few minutes)"
    debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
      { tail -20 "$cache/debootstrap.log" >&2; exit 1; }
    touch "$root/.ostrel-debootstrap-done"
  fi
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  in_chroot - /bin/sh -ec '
    dpkg --add-architecture i386
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      wine wine64 wine32:i386 fonts-wine
    apt-get clean'
  log "making the 64-bit prefix (minutes where its 32-bit half runs under emulation)"
  in_chroot - /bin/sh -ec "
    rm -rf $prefix_in_root
    mkdir -p $prefix_in_root
    export WINEPREFIX=$prefix_in_root WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    # Debian's Wine looks for its fonts where fonts-wine does not put them.
    cp -n /usr/share/wine/fonts/* $prefix_in_root/drive_c/windows/Fonts/ 2>/dev/null || true
    # No window manager on the virtual display: unmanaged windows do not wait for one.
    /usr/lib/wine/wine64 reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    /usr/lib/wine/wineserver -w"
  echo "$recipe" >"$stamp"
  log "set up in $((SECONDS - start)) s ($(du -sh "$cache" | cut -f1))"
}

inside() {
  local dir="$1"
  shift
  mount --make-rprivate /
  mount_chroot
  # The same path inside as outside, so that build paths baked into the tests hold in both.
  local workdir=/
  if [ "$dir" != - ]; then
    mkdir -p "$root$dir"
    mount --bind "$dir" "$root$dir"
    workdir="$dir"
  fi
  local xauth=
  if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
    cp "$XAUTHORITY" "$root/tmp/ostrel-xauthority"
    xauth=/tmp/ostrel-xauthority
  fi
  local status=0
  # shellcheck disable=SC2016 # expanded by the inner shell, from its own arguments
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DISPLAY="${DISPLAY:-}" XAUTHORITY="$xauth" WINEPREFIX="$prefix_in_root" WINEDEBUG=-all \
    WINEDLLOVERRIDES='mscoree,mshtml=' /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$workdir" "$@" ||
    status=$?
  # Nothing of the run may outlive it: its wineserver would keep this namespace, and its mounts, alive.
  chroot "$root" /usr/bin/env -i WINEPREFIX="$prefix_in_root" /usr/lib/wine/wineserver -k \
    2>/dev/null || true
  return $status
}

teardown() {
  if [ -x "$root/usr/lib/wine/wineserver" ]; then
    in_chroot - /usr/lib/wine/wineserver -k 2>/dev/null || true
  fi
  # Mounts of a run live in its own namespace and go with it; these catch any made outside one.
  local m
  awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r | while read -r m; do
    umount -l "$m" || true
  done
  # The machine runs i386 programs as it did before.
  [ ! -e "$binfmt/$binfmt_name" ] || echo -1 >"$binfmt/$binfmt_name"
}

case "${1:-}" in
  setup) setup ;;
  run)
    [ $# -ge 3 ] || { echo "usage: $0 run DIR CMD..." >&2; exit 2; }
    [ -f "$stamp" ] || { log "not set up: run '$0 setup' first"; exit 1; }
    ensure_32bit_runs >/dev/null 2>&1
    shift
    dir="$(cd "$1" && pwd)"
    shift
    in_chroot "$dir" "$@"
    ;;
  teardown) teardown ;;
  native) [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
    runs_32bit_natively ;;
  purge) teardown; rm -rf "$cache" ;;
  __inside) shift; inside "$@" ;;
  *) echo "usage: $0 setup | run DIR CMD... | teardown | purge | native" >&2; exit 2 ;;
esac
