#!/usr/bin/env bash
# Makes the release artefacts in one command, from a fresh clone: the Windows program (Release,
# static, stripped), the installer's custom-action DLL and the per-user MSI that carries both,
# copied to build/release/ and listed with their sizes and SHA-256. Unsigned, they are the same
# bytes for the same commit wherever it is built.
#   --sign CERT.pfx    signs the program, the DLL (before they go into the MSI) and the MSI with
#                      Authenticode, SHA-256; the password comes from TSL_SIGN_PASSWORD
#   --timestamp URL    with --sign: an RFC 3161 time-stamp server countersigns each signature
#   --measure          then compares the program's size and start-up under Wine with a plain
#                      MinGW "hello" built the same way (packaging/measure.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
usage() {
  echo "usage: [TSL_SIGN_PASSWORD=...] $0 [--sign CERT.pfx [--timestamp URL]] [--measure]" >&2
  exit 2
}
measure=0 pfx= timestamp=()
while [ $# -gt 0 ]; do
  case $1 in
    --measure) measure=1 ;;
    --sign) [ $# -ge 2 ] || usage; pfx=$(realpath "$2"); shift ;;
    --timestamp) [ $# -ge 2 ] || usage; timestamp=(--timestamp "$2"); shift ;;
    *) usage ;;
  esac
  shift
done
if [ ${#timestamp[@]} -gt 0 ] && [ -z "$pfx" ]; then usage; fi
# Told before the build rather than after it.
if [ -n "$pfx" ]; then
  [ -f "$pfx" ] || { echo "no such certificate: $pfx" >&2; exit 2; }
  [ -n "${TSL_SIGN_PASSWORD+set}" ] || { echo "--sign: set TSL_SIGN_PASSWORD" >&2; exit 2; }
fi

# Reproducible: every date in the artefacts is the last commit's, and the same commit gives the
# same bytes in any folder (scripts/check-reproducible.sh proves it).
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "not a git checkout: set SOURCE_DATE_EPOCH to the sources' date" >&2; exit 2; }
fi
export SOURCE_DATE_EPOCH

bash scripts/install-deps.sh
build=build/windows-release
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release --target connector tsl_installer_actions tsl_icon

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
out=build/release
msi=TessalineTallyConnector-$version.msi
rm -rf "$out"
mkdir -p "$out"
cp "$build/src/app/TessalineTallyConnector.exe" "$build/packaging/windows/installer_actions.dll" \
  "$out/"
if [ -n "$pfx" ]; then
  bash packaging/windows/sign.sh "${timestamp[@]}" "$pfx" \
    "$out/TessalineTallyConnector.exe" "$out/installer_actions.dll"
fi
bash packaging/windows/build_msi.sh "$version" "$out/TessalineTallyConnector.exe" \
  "$out/installer_actions.dll" "$build/packaging/icon/tessaline-tally-connector.ico" "$out/$msi"
if [ -n "$pfx" ]; then
  bash packaging/windows/sign.sh "${timestamp[@]}" "$pfx" "$out/$msi"
fi

printf '\nRelease %s in %s:\n' "$version" "$out"
for f in TessalineTallyConnector.exe installer_actions.dll "$msi"; do
  printf '  %-40s %9d bytes  sha256 %s\n' "$f" "$(stat -c %s "$out/$f")" \
    "$(sha256sum "$out/$f" | cut -d' ' -f1)"
done
if [ -n "$pfx" ]; then
  printf 'Signed (SHA-256%s) with %s.\n' "${timestamp[1]:+, time-stamped by ${timestamp[1]}}" \
    "$(openssl pkcs12 -in "$pfx" -passin env:TSL_SIGN_PASSWORD -nokeys -clcerts 2>/dev/null |
       openssl x509 -noout -subject 2>/dev/null || echo "$pfx")"
else
  echo "UNSIGNED: Windows SmartScreen warns before running these; sign with --sign CERT.pfx."
fi

if [ $measure -eq 1 ]; then
  bash packaging/measure.sh "$build"
fi
