#!/usr/bin/env bash
# The project's own C++ checked three ways: clang-format (the repo's .clang-format), clang-tidy
# (.clang-tidy) and cppcheck. Prints every finding and exits non-zero when there is any.
# clang-tidy reads the registry reader as the host build compiles it, and the Windows sources
# through a compilation database of the x86_64 cross build (configured in build/lint, not built)
# with clang aimed at the MinGW target.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
status=0
dirs=(platform stores registry window tests bench fuzz tools cli)
existing=()
for d in "${dirs[@]}"; do [ -d "$d" ] && existing+=("$d"); done
mapfile -t sources < <(find "${existing[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

echo "== clang-format (${#sources[@]} files)"
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "clang-format: run clang-format -i on the files above"
  status=1
fi

echo "== clang-tidy"
tidy_log=$(mktemp)
trap 'rm -f "$tidy_log"' EXIT
host_args=(-- -std=c++20 -I "$root")
if [ -f build/host-asan/compile_commands.json ]; then
  host_args=(-p build/host-asan)
fi
clang-tidy --quiet registry/General.cpp "${host_args[@]}" >"$tidy_log" 2>&1 || status=1
grep -E -A3 'warning:|error:' "$tidy_log" || true

cmake -S . -B build/lint -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DOSTREL_BENCH=ON \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >build/lint.log 2>&1 || { cat build/lint.log; exit 1; }
# Clang does not find Debian's MinGW C++ headers by itself (the GCC directory is "12-posix"): hand
# it the cross compiler's own C++ include directories.
cxx_includes=()
while read -r dir; do
  cxx_includes+=("--extra-arg=-isystem$dir")
done < <(echo | x86_64-w64-mingw32-g++-posix -E -x c++ - -v 2>&1 |
  sed -n '/#include <...> search starts here/,/End of search list/p' | grep '/include/c++')
mapfile -t windows_sources < <(find platform window bench tools -type f -name '*.cpp' \
  -not -path '*/linux/*' 2>/dev/null | sort)
if ! printf '%s\n' "${windows_sources[@]}" |
  xargs -P "$(nproc)" -n 2 clang-tidy --quiet -p build/lint \
    --extra-arg=--target=x86_64-w64-mingw32 "${cxx_includes[@]}" >"$tidy_log" 2>&1; then
  status=1
fi
grep -E -A3 'warning:|error:' "$tidy_log" || true
echo "clang-tidy: registry/General.cpp (host) and ${#windows_sources[@]} Windows sources"

# The Linux platform code and the command, as the linux preset compiles them (configured by make
# build-linux).
mapfile -t linux_sources < <(find platform/linux stores bench/linux cli -type f -name '*.cpp' 2>/dev/null | sort)
if [ ${#linux_sources[@]} -gt 0 ]; then
  linux_args=(-- -std=c++20 -I "$root")
  [ -f build/linux/compile_commands.json ] && linux_args=(-p build/linux)
  clang-tidy --quiet "${linux_sources[@]}" "${linux_args[@]}" >"$tidy_log" 2>&1 || status=1
  grep -E -A3 'warning:|error:' "$tidy_log" || true
  echo "clang-tidy: ${#linux_sources[@]} Linux platform sources"
fi

echo "== boundaries (docs/architecture.md)"
./scripts/check-boundaries.sh || status=1

echo "== cppcheck"
# warning, performance and portability only: the style class mostly asks for std algorithms
# over plain loops and for Microsoft's StringCch* functions, which this code has no use for.
if ! cppcheck --quiet --error-exitcode=1 --enable=warning,performance,portability --std=c++20 \
  --library=windows --library=googletest --inline-suppr -I . -D_WIN32 -DUNICODE -D_UNICODE "${existing[@]}"; then
  status=1
fi

[ "$status" -eq 0 ] && echo "lint: clean" || echo "lint: findings above"
exit "$status"
