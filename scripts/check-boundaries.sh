#!/usr/bin/env bash
# The include rules docs/architecture.md states, checked on every project header and source:
# each folder may include only what its line below allows (besides the standard library and,
# where said, system headers). Prints each breach and exits non-zero when there is any.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
# folder | project folders it may include | system headers allowed (a regex of header names)
rules=(
  "stores|stores platform/Registry.h|^$"
  "registry|registry platform/Registry.h platform/Message.h platform/Text.h|^$"
  "platform/win32|platform|.*"
  "platform/linux|platform/linux platform/Registry.h platform/File.h platform/Message.h platform/Text.h platform/UniqueHandle.h platform/Version.h stores|.*"
  "window|window registry platform|.*"
  "cli|cli registry window/BackupFile.h window/GameKey.h platform/Registry.h platform/File.h platform/Message.h platform/Text.h platform/Version.h platform/linux stores|.*"
)
for rule in "${rules[@]}"; do
  IFS='|' read -r folder allowed system <<<"$rule"
  while IFS= read -r file; do
    # A folder's rule covers its own files, not those of a folder with a rule of its own.
    while IFS= read -r include; do
      header="${include#*[\"<]}"
      header="${header%[\">]*}"
      if [[ "$include" == *\"* ]]; then
        ok=0
        for prefix in $allowed; do
          [[ "$header" == "$prefix" || "$header" == "$prefix"/* ]] && ok=1
        done
        [ "$ok" = 1 ] || { echo "$file includes \"$header\", which $folder/ may not"; status=1; }
      elif [[ "$header" != *.h* ]] && [[ "$header" =~ ^[a-z_]+$ ]]; then
        : # the C++ standard library
      elif [[ "$header" =~ ^c[a-z]+$ ]]; then
        :
      elif ! [[ "$header" =~ $system ]]; then
        echo "$file includes <$header>, a system header, which $folder/ may not"
        status=1
      fi
    done < <(grep -E '^#include' "$file")
  done < <(find "$folder" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
done
# platform/ itself holds only the interface: no system header in it.
for file in platform/*.h; do
  grep -HE '^#include <(windows|unistd|fcntl|sys/)' "$file" && status=1
done
[ "$status" -eq 0 ] && echo "boundaries: kept"
exit "$status"
