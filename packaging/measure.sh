#!/usr/bin/env bash
# Size and start-up of the release program beside a plain MinGW "hello" built the same way
# (same compiler, optimisation, static runtime, stripped), in one run under the same Wine prefix:
#   packaging/measure.sh [RELEASE_BUILD_DIR]   (default build/windows-release)
set -euo pipefail
build=$(realpath "${1:-build/windows-release}")
runs=${TSL_MEASURE_RUNS:-10}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake)
read -r -a opt <<<"$(cache CMAKE_CXX_FLAGS_RELEASE)"
exe="$build/src/app/TessalineTallyConnector.exe"
wine_run="$build/wine-run.sh"
[ -x "$exe" ] && [ -x "$wine_run" ] || { echo "build the release first: scripts/release.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/hello_printf.cpp" <<'SRC'
#include <cstdio>
int main() { std::printf("hello\n"); }
SRC
cat >"$work/hello_iostream.cpp" <<'SRC'
#include <iostream>
int main() { std::cout << "hello\n"; }
SRC
for h in hello_printf hello_iostream; do
  "$cxx" -std=c++20 "${opt[@]}" -static -static-libgcc -static-libstdc++ -s \
    -o "$work/$h.exe" "$work/$h.cpp"
done

# Milliseconds of one start, to exit, with its output discarded.
once() {
  local t0 t1
  t0=$(date +%s%N)
  "$wine_run" "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000000 ))
}
names=(TessalineTallyConnector.exe hello_printf.exe hello_iostream.exe)
cmds=("$exe --version" "$work/hello_printf.exe" "$work/hello_iostream.exe")
for c in "${cmds[@]}"; do once $c >/dev/null; done   # the prefix and wineserver are up
declare -A times
for ((r = 0; r < runs; r++)); do   # interleaved, so a slow moment hits all alike
  for i in "${!cmds[@]}"; do times[$i]+="$(once ${cmds[$i]}) "; done
done

printf '\n%-30s %12s %18s %10s\n' "program (static, stripped)" "size, bytes" "median start, ms" "min, ms"
for i in "${!cmds[@]}"; do
  file=${cmds[$i]%% *}
  sorted=$(tr ' ' '\n' <<<"${times[$i]}" | grep . | sort -n)
  median=$(sed -n "$(( (runs + 1) / 2 ))p" <<<"$sorted")
  printf '%-30s %12d %18d %10d\n' "${names[$i]}" "$(stat -c %s "$file")" "$median" \
    "$(head -1 <<<"$sorted")"
done
printf '(%d starts each under Wine %s, %s --version for the connector)\n' "$runs" \
  "$(wine --version 2>/dev/null)" "$(basename "$cxx")"
