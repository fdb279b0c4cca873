#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Idempotent: it asks apt only for
# packages that are missing, so a second run costs a second.
set -euo pipefail

packages=(
  cmake ninja-build make git
  g++-mingw-w64-i686 g++-mingw-w64-x86-64   # the cross compilers (posix thread model included)
  googletest                                # GoogleTest sources, cross-compiled with the tests
  wine wine64 fonts-wine                    # runs the x86_64 build and its tests; Wine's own UI fonts
  xvfb xauth x11-apps imagemagick           # a virtual display and screenshots of it
  python3 python3-pefile                    # reading the version block, manifest and imports back
  clang libclang-rt-14-dev clang-tidy clang-format cppcheck   # sanitizers, fuzzing and lint
  g++                                       # the native Linux build, linked statically
  kdialog zenity xdotool                    # the Linux command's windows, answered on a virtual display
                                            # (kdialog brings Qt and KDE Frameworks: about 120 MB)
  desktop-file-utils libglib2.0-bin python3-gi   # its launcher checked and started as file managers do
  chntpw libhivex-bin libwin-hivex-perl reglookup samba-libs   # hives written and read by others
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
