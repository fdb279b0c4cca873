#!/usr/bin/env bash
# command-test.sh OSTREL: the Linux command end to end, on hand-made prefixes in a made-up home:
# what it prints, the exit codes, the backup's exact bytes, and the failures that must leave an
# earlier ostrel.txt as it was with no temporary file beside it.
set -uo pipefail
ostrel="$(realpath "$1")"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-command.XXXXXX")"
mounted=""
diskmount=""
cleanup() {
  [ -n "$mounted" ] && { umount "$mounted" 2>/dev/null || umount -l "$mounted"; }
  [ -n "$diskmount" ] && { umount "$diskmount" 2>/dev/null || umount -l "$diskmount"; }
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# shellcheck source=fixtures.sh
. "$(dirname "$(realpath "$0")")/fixtures.sh"

# expect NAME STATUS STDOUT -- COMMAND...: runs in $PWD, compares exit status and stdout.
expect() {
  local name="$1" status="$2" out="$3"
  shift 4
  local got rc
  got="$("$@" 2>"$work/stderr")"
  rc=$?
  [ "$rc" = "$status" ] || fail "$name: exit $rc, wanted $status ($(cat "$work/stderr"))"
  [ "$got" = "$out" ] || fail "$name: printed '$got', wanted '$out'"
}
# The exact bytes of ostrel.txt in the current folder, and nothing else there.
expect_file() {
  local name="$1" bytes="$2"
  [ "$(od -An -c ostrel.txt 2>&1)" = "$(printf '%s' "$bytes" | od -An -c)" ] ||
    fail "$name: ostrel.txt is $(od -An -c ostrel.txt 2>&1)"
  [ "$(ls -A | grep -v '^ostrel.txt$' | grep -v '^keep$')" = "" ] || fail "$name: left $(ls -A)"
}

prefix "$work/good" '"codkey"="ABCD-EFGH-1234"'
prefix "$work/spaces" '"codkey"="  AB C  "'
prefix "$work/nul" '"codkey"=str(7):"AB\0CD\0"'
prefix "$work/accent" '"codkey"="caf\xe9-\x4e2d"'
# The code page table every prefix gets from wineboot, from Wine's own install.
mkdir -p "$work/accent/drive_c/windows/system32"
cp /usr/share/wine/nls/c_1252.nls "$work/accent/drive_c/windows/system32/"
prefix "$work/escape" '"codkey"="A\eB\tC"'
prefix "$work/empty" '"codkey"=""'
prefix "$work/missing" '"other"="x"'
prefix "$work/error" '"codkey"="Error"'
prefix "$work/cut" '"codkey"="ABCD-EF'
prefix "$work/long" "\"codkey\"=\"$(head -c 300 /dev/zero | tr '\0' K)\""
# No tables of its own, and FIFOs where Wine keeps tables and the user's registry: read anyway.
prefix "$work/bare" '"codkey"="caf\xe9"'
mkdir -p "$work/bare/drive_c/windows/system32"
mkfifo "$work/bare/user.reg" "$work/bare/drive_c/windows/system32/l_intl.nls" "$work/bare/drive_c/windows/system32/c_1252.nls"
mkdir -p "$work/fifo-system" && mkfifo "$work/fifo-system/system.reg"
mkdir -p "$work/arch" && printf 'WINE REGISTRY Version 2\n#arch=\033[31mred\n' >"$work/arch/system.reg"
prefix "$work/compat/pfx" '"codkey"="PROTON-KEY"'
mkdir -p "$work/notprefix" "$work/cwd"
cd "$work/cwd" || exit 1

expect "recover" 0 "ABCD-EFGH-1234" -- "$ostrel" recover --prefix "$work/good"
expect "recover drops only leading spaces" 0 "AB C  " -- "$ostrel" recover --prefix "$work/spaces"
expect "recover up to NUL" 0 "AB" -- "$ostrel" recover --prefix "$work/nul"
expect "recover in UTF-8" 0 "café-?" -- "$ostrel" recover --prefix "$work/accent"
expect "recover into a pipe is exact" 0 $'A\eB\tC' -- "$ostrel" recover --prefix "$work/escape"
expect "recover empty value" 0 "" -- "$ostrel" recover --prefix "$work/empty"
expect "recover missing value" 1 "Error" -- "$ostrel" recover --prefix "$work/missing"
expect "recover a key named Error" 0 "Error" -- "$ostrel" recover --prefix "$work/error"
expect "recover a value cut short" 1 "Error" -- "$ostrel" recover --prefix "$work/cut"
grep -q 'damaged' "$work/stderr" || fail "cut short: stderr says $(cat "$work/stderr")"
expect "recover a value too long to read" 1 "Error" -- "$ostrel" recover --prefix "$work/long"
grep -q 'more than the 255' "$work/stderr" || fail "too long: stderr says $(cat "$work/stderr")"
expect "no tables, FIFOs instead" 0 "café" -- timeout 10 "$ostrel" recover --prefix "$work/bare"
grep -q 'code page 1252' "$work/stderr" || fail "no tables: stderr says $(cat "$work/stderr")"
expect "system.reg a FIFO" 1 "" -- timeout 10 "$ostrel" recover --prefix "$work/fifo-system"
grep -q 'not a regular file' "$work/stderr" || fail "FIFO system.reg: stderr says $(cat "$work/stderr")"
expect "escape in #arch" 1 "" -- "$ostrel" recover --prefix "$work/arch"
grep -q $'\033' "$work/stderr" && fail "escape in #arch reached stderr"
expect "compatdata folder" 0 "PROTON-KEY" -- "$ostrel" recover --prefix "$work/compat"
expect "WINEPREFIX" 0 "ABCD-EFGH-1234" -- env WINEPREFIX="$work/good" "$ostrel" recover
expect "~/.wine" 1 "Error" -- env -u WINEPREFIX HOME="$work/missing/.." \
  sh -c 'mkdir -p "$HOME/.wine" && cp "$HOME/missing/system.reg" "$HOME/.wine/" && "$0" recover' "$ostrel"
expect "no prefix" 2 "" -- "$ostrel" recover --prefix "$work/notprefix"
expect "unknown option" 2 "" -- "$ostrel" recover --bogus
[ "$(wc -l <"$work/stderr")" = 1 ] || fail "usage error is not one line: $(cat "$work/stderr")"
expect "help" 0 "$("$ostrel" --help)" -- "$ostrel" help
"$ostrel" --help | grep -q 'ostrel backup \[--prefix DIR | --windows DIR \[--user NAME\]\] \[--key TEXT\]' || fail "help lacks usage"
ls -A | grep -q . && fail "recover wrote into the current folder: $(ls -A)"

expect "backup" 0 "ostrel.txt written!" -- "$ostrel" backup --prefix "$work/good"
expect_file "backup" "${header}ABCD-EFGH-1234"$'\r\n'
lost="Some characters cannot be stored in this system's code page and were written as '?' or a similar letter."
grep -qF "$lost" "$work/stderr" && fail "backup: says characters were lost where none were"
expect "backup --key" 0 "ostrel.txt written!" -- "$ostrel" backup --prefix "$work/good" --key "  typed "
expect_file "backup --key" "${header}  typed "$'\r\n'
expect "backup in the ANSI code page" 0 "ostrel.txt written!" -- "$ostrel" backup --prefix "$work/accent"
expect_file "backup in the ANSI code page" "${header}caf"$'\xe9'"-?"$'\r\n'
# The key was already read through the code page: nothing more is lost on the way to the file.
grep -qF "$lost" "$work/stderr" && fail "backup in the ANSI code page: says characters were lost"
expect "backup of what the code page lacks" 0 "ostrel.txt written!" -- \
  "$ostrel" backup --prefix "$work/accent" --key $'\u041a\u043b\u044e\u0447-\u03a9'
expect_file "backup of what the code page lacks" "${header}????-O"$'\r\n'
grep -qxF "$lost" "$work/stderr" || fail "backup of what the code page lacks: stderr says $(cat "$work/stderr")"
expect "backup empty box" 0 "ostrel.txt written!" -- "$ostrel" backup --prefix "$work/good" --key ""
expect_file "backup empty box" "${header}"$'\r\n'
# A key that was not read, or is empty, never replaces an earlier backup; typed text does.
expect "backup of a missing key" 1 "" -- "$ostrel" backup --prefix "$work/missing"
grep -q 'no such value' "$work/stderr" || fail "missing key: stderr says $(cat "$work/stderr")"
expect_file "backup of a missing key" "${header}"$'\r\n'
expect "backup of a value cut short" 1 "" -- "$ostrel" backup --prefix "$work/cut"
expect "backup of an empty key" 1 "" -- "$ostrel" backup --prefix "$work/empty"
expect_file "backup of an empty key" "${header}"$'\r\n'
expect "bad UTF-8 key" 2 "" -- "$ostrel" backup --prefix "$work/good" --key $'\xff'
expect_file "bad UTF-8 key" "${header}"$'\r\n'
expect "backup of a key named Error" 0 "ostrel.txt written!" -- "$ostrel" backup --prefix "$work/error"
expect_file "backup of a key named Error" "${header}Error"$'\r\n'

# Every name of a hard-linked backup sees the new key.
ln ostrel.txt "$work/second-name"
expect "hard link" 0 "ostrel.txt written!" -- "$ostrel" backup --prefix "$work/good"
cmp -s ostrel.txt "$work/second-name" || fail "hard link: the other name kept the old key"
[ "$(stat -c %h ostrel.txt)" = 2 ] || fail "hard link: the link was split"
rm "$work/second-name"

# What is no file is refused, and nothing is created, renamed or removed: a FIFO, or a device.
rm ostrel.txt && mkfifo "$work/fifo" && ln -s "$work/fifo" ostrel.txt
expect "link to a FIFO" 1 "" -- timeout 10 "$ostrel" backup --prefix "$work/good"
[ -p "$work/fifo" ] && [ -L ostrel.txt ] && [ "$(ls -A)" = ostrel.txt ] || fail "FIFO target touched"
if mknod "$work/null" c 1 3 2>/dev/null; then
  ln -sf "$work/null" ostrel.txt
  expect "link to a device" 1 "" -- "$ostrel" backup --prefix "$work/good"
  [ -c "$work/null" ] || fail "link to a device: the device node was replaced"
fi
rm ostrel.txt

# In a sticky folder, someone else's writable file is rewritten in place, not refused.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  chmod 755 "$work"
  mkdir -m 1777 "$work/sticky" && printf 'OLD' >"$work/sticky/ostrel.txt" && chmod 666 "$work/sticky/ostrel.txt"
  (cd "$work/sticky" && setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$ostrel" backup --prefix "$work/good" >/dev/null 2>"$work/stderr") || fail "sticky folder: $(cat "$work/stderr")"
  [ "$(tail -c 16 "$work/sticky/ostrel.txt")" = $'ABCD-EFGH-1234\r' ] || fail "sticky folder: not rewritten"
fi

# Failures: the old file stays byte for byte, nothing else is left, the error goes to stderr.
printf 'OLD' >ostrel.txt && chmod 444 ostrel.txt
expect "read-only" 1 "" -- "$ostrel" backup --prefix "$work/good"
grep -q 'Error 13' "$work/stderr" || fail "read-only: stderr says $(cat "$work/stderr")"
grep -qF "$PWD/ostrel.txt could not be written" "$work/stderr" || fail "read-only: names no path"
grep -qF "The earlier ostrel.txt is unchanged" "$work/stderr" || fail "read-only: says nothing of the earlier file"
expect_file "read-only" "OLD"
chmod 644 ostrel.txt && rm ostrel.txt && mkdir ostrel.txt
expect "directory in the way" 1 "" -- "$ostrel" backup --prefix "$work/good"
[ -d ostrel.txt ] && [ -z "$(ls -A ostrel.txt)" ] || fail "directory in the way was touched"
rmdir ostrel.txt

mkdir -p "$work/full"
if mount -t tmpfs -o size=64k tmpfs "$work/full" 2>/dev/null; then
  mounted="$work/full"
  cd "$work/full" || exit 1
  printf 'OLD-ON-FULL-DISK' >ostrel.txt
  dd if=/dev/zero of=keep bs=4096 2>/dev/null
  expect "full disk" 1 "" -- "$ostrel" backup --prefix "$work/good" --key "$(head -c 8000 /dev/zero | tr '\0' K)"
  expect_file "full disk" "OLD-ON-FULL-DISK"
  cd "$work/cwd" || exit 1
else
  echo "cannot mount a tmpfs (needs root): full disk not tried"
fi

# A Windows disk as tests/prefix/hives.py lays one out (config/software in lower case), with the
# tables under the names Windows gives them: SYSTEM names code page 1251; alice's profile holds a
# VirtualStore copy of the key, bob's none.
disk="$work/disk"
python3 "$(dirname "$(realpath "$0")")/../prefix/hives.py" disk "$disk"
cp /usr/share/wine/nls/c_1251.nls "$disk/Windows/System32/C_1251.NLS"
cp /usr/share/wine/nls/l_intl.nls "$disk/Windows/System32/L_INTL.NLS"
expect "windows" 0 "ABCD-EFGH-IJKL-MNOP-QRST" -- "$ostrel" recover --windows "$disk"
expect "windows folder" 0 "ABCD-EFGH-IJKL-MNOP-QRST" -- "$ostrel" recover --windows "$disk/Windows"
expect "virtualstore" 0 "ЖЁЛТ-ALICE" -- "$ostrel" recover --windows "$disk" --user alice
grep -q 'VirtualStore copy of Users/alice' "$work/stderr" || fail "virtualstore: $(cat "$work/stderr")"
expect "profile without a copy" 0 "ABCD-EFGH-IJKL-MNOP-QRST" -- "$ostrel" recover --windows "$disk" --user bob
expect "no such profile" 2 "" -- "$ostrel" recover --windows "$disk" --user carol
grep -q 'no profile Users/carol (the profiles there: alice, bob)' "$work/stderr" ||
  fail "no such profile: $(cat "$work/stderr")"
# A profile never logged on to has no UsrClass.dat: its user saw the machine's key. A name beyond
# ASCII is found in any letter case, as Windows finds it.
mkdir -p "$disk/Users/carl" "$disk/Users/Jürgen" &&
  cp -r "$disk/Users/alice/AppData" "$disk/Users/Jürgen/"
expect "profile without its hive" 0 "ABCD-EFGH-IJKL-MNOP-QRST" -- "$ostrel" recover --windows "$disk" --user carl
grep -q 'carl has no AppData/Local/Microsoft/Windows/UsrClass.dat' "$work/stderr" ||
  fail "profile without its hive: $(cat "$work/stderr")"
expect "profile in other letters" 0 "ЖЁЛТ-ALICE" -- "$ostrel" recover --windows "$disk" --user JÜRGEN
rm -r "$disk/Users/carl" "$disk/Users/Jürgen"
# Windows redirects a 32-bit program once, right under SOFTWARE: a Wow6432Node deeper in the path
# is an ordinary key it never enters (Wine's rule, for prefixes, would).
cp -r "$disk" "$work/disk-deep"
python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import hives
open(sys.argv[2], "wb").write(hives.hive(hives.software([(
    r"Wow6432Node\Activision\Wow6432Node\Call of Duty 4",
    [("codkey", hives.REG_SZ, hives.sz("NOT-SEEN-BY-32-BIT"))])])))' \
  "$(dirname "$(realpath "$0")")/../prefix" "$work/disk-deep/Windows/System32/config/software"
expect "one redirection" 0 "ABCD-EFGH-IJKL-MNOP-QRST" -- "$ostrel" recover --windows "$work/disk-deep"
expect "no windows there" 2 "" -- "$ostrel" recover --windows "$work/notprefix"
expect "backup from windows" 0 "ostrel.txt written!" -- "$ostrel" backup --windows "$disk" --user alice
expect_file "backup from windows" "${header}"$'\xc6\xa8\xcb\xd2'"-ALICE"$'\r\n'
rm ostrel.txt
cp -r "$disk" "$work/disk-cut" && truncate -s 4200 "$work/disk-cut/Windows/System32/config/software"
expect "hive cut short" 1 "Error" -- "$ostrel" recover --windows "$work/disk-cut"
grep -q 'software: hive truncated' "$work/stderr" || fail "hive cut short: $(cat "$work/stderr")"
grep -q 'software: the file ends before its hive bins do' "$work/stderr" ||
  fail "hive cut short, said: $(cat "$work/stderr")"
python3 "$(dirname "$(realpath "$0")")/../prefix/hives.py" disk "$work/disk-dirty" dirty
printf 'HIBR' >"$work/disk-dirty/hiberfil.sys"
expect "dirty hive" 0 "ABCD-EFGH-IJKL-MNOP-QRST" -- "$ostrel" recover --windows "$work/disk-dirty/Windows"
grep -q 'software: Windows did not close this hive cleanly, and no transaction log was found beside it: the key may be out of date' "$work/stderr" ||
  fail "dirty: $(cat "$work/stderr")"
[ "$(grep -c 'did not close this hive cleanly' "$work/stderr")" = 1 ] || fail "dirty: $(cat "$work/stderr")"
grep -q 'hibernated (Fast Startup)' "$work/stderr" || fail "hibernated: $(cat "$work/stderr")"
# Windows stopped before it wrote its hives into their files (a power cut, Fast Startup): the
# changes wait in the logs beside them, which are read as Windows reads them at its next boot. The
# key changed in SOFTWARE's log, the code page (to 1252) in SYSTEM's (XP's single .LOG, of the
# older format), alice's copy in her hive's.
logged="$work/disk-logs"
cp -r "$disk" "$logged"
config="$logged/Windows/System32/config"
aliceclasses="$logged/Users/alice/AppData/Local/Microsoft/Windows"
prefixsrc="$(dirname "$(realpath "$0")")/../prefix"
python3 - "$prefixsrc" "$work/after" <<'PY' || fail "could not make the hives after the logs"
import os, struct, sys
sys.path.insert(0, sys.argv[1])
import hives
from hives import CODKEY, REG_DWORD, REG_SZ, Key, path, sz
os.makedirs(sys.argv[2], exist_ok=True)
def write(name, root):
    with open(os.path.join(sys.argv[2], name), "wb") as f:
        f.write(hives.hive(root))
software = hives.software([(r"Microsoft\Windows", [])])
path(software, CODKEY).values = [("codkey", REG_SZ, sz("WXYZ-FROM-THE-LOG"))]
write("software", software)
write("deleted", Key("ROOT", keys=[Key("Wow6432Node", keys=[Key("Activision")])]))
def control(acp):
    return Key("Control", keys=[Key("Nls", keys=[Key("CodePage", [("ACP", REG_SZ, sz(acp))])])])
write("SYSTEM", Key("ROOT", keys=[Key("Select", [("Current", REG_DWORD, struct.pack("<I", 2))]),
                                  Key("ControlSet001", keys=[control("1252")]),
                                  Key("ControlSet002", keys=[control("1252")])]))
classes = Key("ROOT", keys=[Key(".txt")])
path(classes, "VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\" + CODKEY.split("\\", 1)[1],
     [("codkey", REG_SZ, sz("ALICE-FROM-THE-LOG"))])
write("alice", classes)
PY
cp -r "$logged" "$work/disk-deleted"
hivelogs() { python3 "$prefixsrc/hivelogs.py" dirty "$@" || fail "hivelogs.py dirty $*"; }
hivelogs "$config/software" "$work/after/software" "$config/SOFTWARE.LOG1"
hivelogs "$config/SYSTEM" "$work/after/SYSTEM" "$config/system.LOG" old
hivelogs "$aliceclasses/UsrClass.dat" "$work/after/alice" "$aliceclasses/UsrClass.dat.LOG1"
expect "replayed" 0 "WXYZ-FROM-THE-LOG" -- "$ostrel" recover --windows "$logged"
grep -qF "config/software: Windows did not close this hive cleanly: replayed 1 entry of SOFTWARE.LOG1, as Windows would at its next boot" "$work/stderr" ||
  fail "replayed: $(cat "$work/stderr")"
grep -qF "config/SYSTEM: Windows did not close this hive cleanly: replayed system.LOG (" "$work/stderr" ||
  fail "replayed, SYSTEM: $(cat "$work/stderr")"
expect "replayed profile" 0 "ALICE-FROM-THE-LOG" -- "$ostrel" recover --windows "$logged" --user alice
expect "backup replayed" 0 "ostrel.txt written!" -- "$ostrel" backup --windows "$logged"
expect_file "backup replayed" "${header}WXYZ-FROM-THE-LOG"$'\r\n'
# The code page the log names: Cyrillic is no letter of 1252.
expect "replayed code page" 0 "ostrel.txt written!" -- "$ostrel" backup --windows "$logged" --key "Ж"
expect_file "replayed code page" "${header}?"$'\r\n'
rm ostrel.txt
hivelogs "$work/disk-deleted/Windows/System32/config/software" "$work/after/deleted" \
  "$work/disk-deleted/Windows/System32/config/software.log1"
expect "deleted by the log" 1 "Error" -- "$ostrel" recover --windows "$work/disk-deleted"
grep -q 'no such key' "$work/stderr" || fail "deleted by the log: $(cat "$work/stderr")"
# scan finds the disk mounted (a loop-mounted image stands for the partition), its logs replayed,
# and alice's copy.
truncate -s 8M "$work/disk.img" && mkdir -p "$work/mnt"
if [ "$(id -u)" = 0 ] && mkfs.ext4 -q -d "$logged" "$work/disk.img" 2>/dev/null &&
  mount -o loop,ro "$work/disk.img" "$work/mnt" 2>/dev/null; then
  diskmount="$work/mnt"
  out="$(timeout 20 env -u WINEPREFIX HOME="$work/nohome" "$ostrel" scan 2>"$work/stderr")"
  grep -qxF "Windows	$work/mnt	WXYZ-FROM-THE-LOG" <<<"$out" || fail "scan of a disk: $out"
  grep -qxF "Windows user alice	$work/mnt	ALICE-FROM-THE-LOG" <<<"$out" || fail "scan of alice: $out"
  grep -q 'user bob' <<<"$out" && fail "scan: bob, who has no copy, has a line"
  umount "$work/mnt" && diskmount=""
else
  echo "cannot loop-mount an image (needs root): scan of a Windows disk not tried"
fi

# scan, over a made-up home: every launcher's layout is covered by the unit tests; this checks
# the lines the command prints and that a broken prefix does not stop the others.
home="$work/home"
prefix "$home/.wine" '"codkey"="WINE-KEY"'
prefix "$home/.local/share/Steam/steamapps/compatdata/7940/pfx" '"codkey"="STEAM-KEY"'
prefix "$home/.PlayOnLinux/wineprefix/Esc"$'\t' '"codkey"="A\eB\tC"'
prefix "$home/.PlayOnLinux/wineprefix/C1"$'\xc2\x9b\x9b' '"codkey"="C1-KEY"'
mkfifo "$home/.PlayOnLinux/wineprefix/Esc"$'\t'"/user.reg"
mkdir -p "$home/.PlayOnLinux/wineprefix/Broken" && printf 'garbage\n' >"$home/.PlayOnLinux/wineprefix/Broken/system.reg"
expected="Wine	$home/.wine	WINE-KEY
Steam app 7940	$home/.local/share/Steam/steamapps/compatdata/7940/pfx	STEAM-KEY
PlayOnLinux Broken	$home/.PlayOnLinux/wineprefix/Broken	Error
PlayOnLinux C1��	$home/.PlayOnLinux/wineprefix/C1��	C1-KEY
PlayOnLinux Esc�	$home/.PlayOnLinux/wineprefix/Esc�	A�B�C"
expect "scan" 0 "$expected" -- timeout 20 env -u WINEPREFIX -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" "$ostrel" scan
expect "scan finds nothing" 1 "" -- env -u WINEPREFIX HOME="$work/nohome" "$ostrel" scan

# Double-clicked: no arguments, no terminal, a display. Stand-ins for kdialog, zenity and
# xdg-open record their arguments (one per line) and the folder they ran in, and answer from a
# queue: line N of "answers" is "STATUS|OUTPUT" for the Nth window. The program runs as a copy in
# a folder of its own, where its report goes.
standins="$work/standins" app="$work/app" click="$work/click"
mkdir -p "$standins"/{kdialog,zenity,both,none,fallback} "$app" "$click"
cp "$ostrel" "$app/ostrel"
printf '%s\n' '#!/bin/sh' 'PATH=/usr/bin:/bin' "d='$standins'" \
  'n=$(($(cat "$d/count" 2>/dev/null || echo 0) + 1)) && echo "$n" >"$d/count"' \
  '{ echo "== ${0##*/} in $(pwd)"; for a; do printf "%s\n" "$a"; done; } >>"$d/log"' \
  'answer=$(sed -n "${n}p" "$d/answers")' \
  '[ "$answer" != nodisplay ] || { echo "Gtk-WARNING **: cannot open display: :0" >&2; exit 1; }' \
  '[ "$answer" = "${answer%%|*}" ] || printf "%s\n" "${answer#*|}"' \
  'exit "${answer%%|*}"' >"$standins/stand-in"
chmod +x "$standins/stand-in"
for t in kdialog zenity; do ln -s ../stand-in "$standins/$t/$t" && ln -s ../stand-in "$standins/both/$t"; done
for t in none/xdg-open fallback/zenity fallback/xdg-open; do ln -s ../stand-in "$standins/$t"; done

# dialog NAME TOOLS HOME STATUS ANSWER...: one double-click, with only the stand-ins on PATH.
dialog() {
  local name="$1" tools="$2" home="$3" status="$4" rc
  shift 4
  rm -f "$standins/log" "$standins/count" "$app/ostrel-report.txt"
  printf '%s\n' "$@" >"$standins/answers"
  (cd "$click" && env -i HOME="$home" PATH="$standins/$tools" DISPLAY=:0 "$app/ostrel" \
    </dev/null >"$work/stdout" 2>"$work/stderr")
  rc=$?
  [ "$rc" = "$status" ] || fail "$name: exit $rc, wanted $status ($(cat "$work/stderr"))"
  [ "$(cat "$standins/count" 2>/dev/null)" = "$#" ] ||
    fail "$name: $(cat "$standins/count" 2>/dev/null) windows for $# answers: $(cat "$standins/log")"
}
# shows NAME LINE...: each line stood alone among the recorded arguments, in this order.
shows() {
  local name="$1" from=1 at
  shift
  for line; do
    at=$(tail -n "+$from" "$standins/log" | grep -Fxn -m1 -- "$line" | cut -d: -f1)
    [ -n "$at" ] || { fail "$name: no '$line' after line $from of:"$'\n'"$(cat "$standins/log")"; return; }
    from=$((from + at))
  done
}

# Markup, a backslash and a mnemonic's underscore in the key and in the folder; a key that starts
# with a dash, which GTK would read as an option.
one="$work/homes/<i>one&_\\x"
prefix "$one/.wine" '"codkey"="<b>K&Y_1\\X</b>"'
key='<b>K&Y_1\X</b>'
several="$work/homes/several"
prefix "$several/.wine" '"codkey"="WINE-KEY"'
prefix "$several/.local/share/Steam/steamapps/compatdata/7940/pfx" '"codkey"="-STEAM-KEY"'
none="$work/homes/none"
prefix "$none/.wine" '"other"="x"'

dialog "kdialog: one key, edited, backed up" kdialog "$one" 0 "0|EDITED" 0 0
shows "kdialog: one key" "== kdialog in $click" "--title=Ostrel 1.1" --inputbox \
  "<qt>Call of Duty 4 key, found in Wine:<br>$work/homes/&lt;i&gt;one&amp;_&#92;x/.wine<br><br>Correct it here if it needs it.</qt>" \
  $'\xe2\x81\xa0'"$key" "--title=Ostrel 1.1" --yes-label=Backup --yesno \
  "<qt>Back up the key to ostrel.txt in this folder?<br>$click</qt>" \
  "--title=Ostrel v1.0" --msgbox "<qt>ostrel.txt written!</qt>"
(cd "$click" && expect_file "kdialog: one key" "${header}EDITED"$'\r\n')
dialog "zenity: one key as read" zenity "$one" 0 "0|$key" 0 0
shows "zenity: one key" --entry "--title=Ostrel 1.1" "--text=Call of Duty 4 key, found in Wine:" \
  "$work/homes/<i>one&__\\\\x/.wine" "--entry-text=$key" --question "--title=Ostrel 1.1" \
  --no-markup --ok-label=Backup "--text=Back up the key to ostrel.txt in this folder?" "$click" \
  --info "--title=Ostrel v1.0" --no-markup "--text=ostrel.txt written!"
(cd "$click" && expect_file "zenity: one key" "${header}${key}"$'\r\n')
# Letters the code page cannot hold: the file keeps what it can, and the confirmation says so.
dialog "zenity: a key the code page cannot hold" zenity "$one" 0 "0|Ключ" 0 0
shows "zenity: lossy" --info "--title=Ostrel v1.0" --no-markup "--text=ostrel.txt written!" \
  "Some characters cannot be stored in this system's code page and were written as '?' or a similar letter."
dialog "zenity: several keys, the second picked, then closed" zenity "$several" 0 "0|2" 1
shows "zenity: several" --list --radiolist "--title=Ostrel 1.1" --print-column=2 TRUE 1 \
  $'\xe2\x81\xa0'WINE-KEY $'\xe2\x81\xa0'Wine $'\xe2\x81\xa0'"$several/.wine" FALSE 2 $'\xe2\x81\xa0'-STEAM-KEY \
  $'\xe2\x81\xa0'"Steam app 7940" --entry "--entry-text=-STEAM-KEY"
dialog "kdialog: several keys, the first picked" kdialog "$several" 0 "0|1" 1
shows "kdialog: several" --radiolist 1 $'\xe2\x81\xa0'"Wine: WINE-KEY  ($several/.wine)" on 2 off \
  --inputbox $'\xe2\x81\xa0'WINE-KEY
dialog "kdialog: no key" kdialog "$none" 1 0
shows "kdialog: no key" "--title=Ostrel v1.0" --msgbox \
  "<qt>No Call of Duty 4 key was found.<br><br>Looked in:<br>Wine: $none/.wine</qt>"
dialog "zenity: no prefix at all" zenity "$work/nohome" 1 0
shows "zenity: no prefix" --info --no-markup "--text=No Call of Duty 4 key was found." ""
# A failed Backup says why, as the window's error box does, and offers the key again.
(cd "$click" && printf 'OLD' >ostrel.txt && chmod 444 ostrel.txt)
dialog "zenity: Backup fails" zenity "$one" 0 "0|TYPED" 0 0 1
shows "zenity: Backup fails" --error "--title=Ostrel v1.0" --no-markup \
  "--text=$click/ostrel.txt could not be written." "" "Error 13: Permission denied." "" \
  "The earlier ostrel.txt is unchanged." --entry "--entry-text=TYPED"
(cd "$click" && expect_file "zenity: Backup fails" "OLD" && chmod 644 ostrel.txt && rm ostrel.txt)
# A line break in the folder's name shows as U+FFFD, in the question and in the failure alike.
odd="$work/odd"$'\n'"folder" shown="$work/odd�folder"
mkdir -p "$odd" && printf 'OLD' >"$odd/ostrel.txt" && chmod 444 "$odd/ostrel.txt"
saved="$click" click="$odd"
dialog "kdialog: Backup fails in a folder with a line break" kdialog "$one" 0 "0|TYPED" 0 0 1
click="$saved"
shows "kdialog: line break" "<qt>Back up the key to ostrel.txt in this folder?<br>$shown</qt>" \
  "<qt>$shown/ostrel.txt could not be written.<br><br>Error 13: Permission denied.<br><br>The earlier ostrel.txt is unchanged.</qt>"
# A kdialog that cannot start (a broken install, no display): zenity instead.
dialog "kdialog fails: zenity" both "$one" 0 255 1
shows "kdialog fails" "== kdialog in $click" "== zenity in $click" --entry
# Neither program: the report beside the program, opened with xdg-open.
dialog "no dialog program: a report" none "$one" 0 0
shows "report" "== xdg-open in $click" "$app/ostrel-report.txt"
grep -Fxq "Call of Duty 4 key: $key" "$app/ostrel-report.txt" || fail "report: $(cat "$app/ostrel-report.txt")"
# GTK exits 1, as for Cancel, when it cannot reach the display: that is no answer.
dialog "zenity without a display: the report" fallback "$one" 0 nodisplay 0
shows "zenity without a display" "== zenity in $click" "== xdg-open in $click" "$app/ostrel-report.txt"
# The report replaces only a file and follows no link: a FIFO there neither blocks the program
# nor is written to, a link is left as it is, and with nothing left to tell the player by, the
# program says why on stderr and exits 1.
rm -f "$app/ostrel-report.txt" && mkfifo "$app/ostrel-report.txt"
: >"$work/elsewhere"
for there in "a device or a pipe" "a symbolic link"; do
  (cd "$click" && timeout 10 env -i HOME="$one" PATH="$standins/none" DISPLAY=:0 "$app/ostrel" \
    </dev/null >/dev/null 2>"$work/stderr")
  rc=$?
  [ "$rc" = 1 ] && grep -qF "ostrel-report.txt could not be written: it is $there" "$work/stderr" ||
    fail "report over $there: exit $rc, $(cat "$work/stderr")"
  rm "$app/ostrel-report.txt" && ln -s "$work/elsewhere" "$app/ostrel-report.txt"
done
[ -L "$app/ostrel-report.txt" ] && [ ! -s "$work/elsewhere" ] || fail "report: the link was followed"
rm "$app/ostrel-report.txt"
# Typed in a terminal, or run with no display: the usage hint as before, and no window.
rm -f "$standins/count"
(cd "$click" && PATH="$standins/kdialog" DISPLAY=:0 HOME="$one" /usr/bin/script -qec "$app/ostrel" \
  /dev/null </dev/null >"$work/stdout" 2>&1)
rc=$?
(cd "$click" && PATH="$standins/kdialog" HOME="$one" /usr/bin/env -u DISPLAY -u WAYLAND_DISPLAY \
  "$app/ostrel" </dev/null >>"$work/stdout" 2>&1)
[ "$rc $?" = "2 2" ] && [ "$(grep -c 'no command given' "$work/stdout")" = 2 ] &&
  [ "$(grep -c . "$work/stdout")" = 2 ] && [ ! -e "$standins/count" ] ||
  fail "terminal, no display: exit $rc, printed $(cat "$work/stdout")"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
