#!/usr/bin/env bash
# Makes the release artefacts in one command, from a fresh clone: the Windows program (Release,
# static, stripped) and its per-user MSI, copied to build/release/ and listed with their sizes.
# With --measure it then compares the program's size and start-up under Wine with a plain
# MinGW "hello" built the same way (packaging/measure.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
measure=0
for arg in "$@"; do
  case $arg in
    --measure) measure=1 ;;
    *) echo "usage: $0 [--measure]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
build=build/windows-release
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release --target connector msi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
out=build/release
mkdir -p "$out"
cp "$build/src/app/TessalineTallyConnector.exe" "$build/TessalineTallyConnector-$version.msi" "$out/"

printf '\nRelease %s in %s:\n' "$version" "$out"
for f in TessalineTallyConnector.exe "TessalineTallyConnector-$version.msi"; do
  printf '  %-40s %9d bytes  sha256 %s\n' "$f" "$(stat -c %s "$out/$f")" \
    "$(sha256sum "$out/$f" | cut -d' ' -f1)"
done

if [ $measure -eq 1 ]; then
  bash packaging/measure.sh "$build"
fi
