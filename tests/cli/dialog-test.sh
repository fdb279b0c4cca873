#!/usr/bin/env bash
# dialog-test.sh OSTREL: the double-click windows in Debian's own kdialog and zenity on a virtual
# display, answered with xdotool as a player would: the list, the key's field, Backup and the
# message, with keys that Qt and GTK would read as their own options; then ostrel.txt byte for
# byte. A window stands for a run of the program only when no report was written instead.
set -uo pipefail
# Xvfb resets when its last client leaves, as it does between one dialog program and the next,
# and refuses connections while it does: the next window then fails to open ("cannot open
# display") about one time in ten. -noreset keeps it up.
if [ -z "${OSTREL_DIALOG_DISPLAY:-}" ]; then
  exec env OSTREL_DIALOG_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi
ostrel="$(realpath "$1")"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrel-dialogs.XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# shellcheck source=fixtures.sh
. "$(dirname "$(realpath "$0")")/fixtures.sh"

app="$work/app" click="$work/click"
mkdir -p "$app" "$click" "$work/run" "$work/only-kdialog" "$work/only-zenity"
chmod 700 "$work/run"
cp "$ostrel" "$app/ostrel" || exit 1
for tool in kdialog zenity xdotool; do
  command -v "$tool" >/dev/null || { echo "no $tool here: scripts/bootstrap.sh installs it"; exit 1; }
done
for tool in kdialog zenity; do ln -s "$(command -v "$tool")" "$work/only-$tool/$tool"; done

# answer KEYS...: waits for the next window (one of a program other than the last one answered),
# gives it the focus and sees that it has it, presses KEYS, then waits for that program to end, so
# that no key can reach the window after it. Every wait is bounded, at 60 s; none outlasts the
# program under test ($running). On failure, $why says which wait ran out.
answered=""
answer() {
  local window="" pid="" _
  for _ in $(seq 600); do
    for window in $(xdotool search --onlyvisible --name '^Ostrel' 2>/dev/null); do
      pid=$(xdotool getwindowpid "$window" 2>/dev/null) && [ "$pid" != "$answered" ] && break 2
    done
    window=""
    kill -0 "$running" 2>/dev/null || { why="the program ended first"; return 1; }
    sleep 0.1
  done
  [ -n "$window" ] || { why="no window within 60 s"; return 1; }
  answered="$pid"
  for _ in $(seq 600); do
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] && break
    timeout 20 xdotool windowfocus --sync "$window" 2>/dev/null
    sleep 0.1
  done
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] ||
    { why="no focus within 60 s"; return 1; }
  xdotool key --delay 50 "$@"
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  why="the window stayed"
  return 1
}

# double_click NAME TOOL HOME STATUS KEY|- WINDOW...: starts the program as a file manager would,
# with only TOOL on its PATH, answers each window with its keys (words), and checks the exit
# status, that no report was written, and ostrel.txt: it holds KEY, or is not there for "-".
double_click() {
  local name="$1 ($2)" tool="$2" home="$3" status="$4" key="$5" keys rc=""
  shift 5
  rm -f "$click/ostrel.txt" "$app/ostrel-report.txt"
  answered=""
  (cd "$click" && exec env -i HOME="$home" PATH="$work/only-$tool" DISPLAY="$DISPLAY" \
    XAUTHORITY="${XAUTHORITY:-}" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 "$app/ostrel" \
    </dev/null >/dev/null 2>"$work/stderr") &
  running=$!
  for keys in "$@"; do
    # shellcheck disable=SC2086 # one window's keys, a word each
    answer $keys && continue
    fail "$name: window answered with '$keys': $why"
    kill "$answered" 2>/dev/null
    break
  done
  for _ in $(seq 600); do
    kill -0 "$running" 2>/dev/null || { wait "$running"; rc=$?; break; }
    sleep 0.1
  done
  [ -n "$rc" ] || { fail "$name: still running after its last window"; kill "$running"; return; }
  [ "$rc" = "$status" ] || fail "$name: exit $rc, wanted $status ($(cat "$work/stderr"))"
  [ ! -e "$app/ostrel-report.txt" ] || fail "$name: a report instead of windows"
  if [ "$key" = - ]; then
    [ ! -e "$click/ostrel.txt" ] || fail "$name: wrote ostrel.txt"
  elif [ "$(od -An -c "$click/ostrel.txt" 2>&1)" != "$(printf '%s\r\n' "$header$key" | od -An -c)" ]
  then
    fail "$name: ostrel.txt is $(od -An -c "$click/ostrel.txt" 2>&1), wanted $key"
  fi
}

# The stylesheet a "-stylesheet=" key would load: it writes its own text into the key's field.
printf 'QLineEdit { qproperty-text: "STOLEN"; }\nQLabel { qproperty-text: "STOLEN"; }\n' >"$work/evil.qss"
hostile=("-stylesheet=$work/evil.qss" "-style=X" "--help" "-platform" "--gtk-module=X" "<b>x</b>")
two="$work/homes/two"
prefix "$two/.wine" '"codkey"="WINE-KEY"'
prefix "$two/.local/share/Steam/steamapps/compatdata/7940/pfx" '"codkey"="STEAM-KEY"'
none="$work/homes/none"
prefix "$none/.wine" '"other"="x"'

# The list: its first row as it stands, or the second picked. zenity's radio list takes neither
# Return nor a click on a row for an answer: the radio is set from the keyboard, then OK.
declare -A first=([kdialog]="Return" [zenity]="Tab Tab Return")
declare -A second=([kdialog]="Down Return" [zenity]="Down Right space Tab Tab Return")
for tool in kdialog zenity; do
  # The whole way: the second key picked, typed into at either end (kdialog's field starts with an
  # invisible character that the text typed at its start goes before), Backup, the message.
  double_click "two prefixes, the second edited and backed up" "$tool" "$two" 0 zSTEAM-KE9 \
    "${second[$tool]}" "Home z End BackSpace 9 Return" Return Return
  for i in "${!hostile[@]}"; do
    home="$work/homes/hostile$i"
    prefix "$home/.wine" "\"codkey\"=\"${hostile[$i]}\""
    prefix "$home/.local/share/Steam/steamapps/compatdata/7940/pfx" '"codkey"="STEAM-KEY"'
    double_click "the key ${hostile[$i]} backed up as shown" "$tool" "$home" 0 "${hostile[$i]}" \
      "${first[$tool]}" Return Return Return
  done
  double_click "the field closed" "$tool" "$two" 0 - "${first[$tool]}" Escape
  double_click "no key found" "$tool" "$none" 1 - Return
done

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
