#!/usr/bin/env bash
# Builds the per-user MSI with wixl: build_msi.sh VERSION EXE ACTIONS_DLL ICON.ICO OUTPUT.MSI
# The same inputs give the same bytes. Dates (the package's, and the files' in its cabinet) are
# SOURCE_DATE_EPOCH, by default the time of the sources' last commit. The product code and the
# package code are made from a hash of everything that goes into the package and that date: a
# rebuild of the same commit is the same package; another build of the same version, from
# another commit, gets new codes, so Windows Installer replaces the installed one with it.
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 VERSION EXE ACTIONS_DLL ICON.ICO OUTPUT.MSI" >&2
  exit 2
fi
version=$1 exe=$2 dll=$3 ico=$4 out=$(realpath -m "$5")
wxs=$(realpath "$(dirname "$0")/connector.wxs")
for tool in wixl msibuild faketime; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/install-deps.sh" >&2
    exit 1
  fi
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$(dirname "$wxs")" log -1 --format=%ct 2>/dev/null || date +%s)
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]{1,12}$ ]] || { echo "SOURCE_DATE_EPOCH is not a time" >&2; exit 2; }

# wixl finds sources only by names relative to its working folder: copies with the fixed date.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/TessalineTallyConnector.exe"
cp "$dll" "$stage/installer_actions.dll"
cp "$ico" "$stage/connector.ico"
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

# A GUID from the hash of the inputs and a label, in the form of a name-based (version 5) UUID.
inputs=$( (printf '%s\n%s\n' "$version" "$SOURCE_DATE_EPOCH"; cat "$stage"/* "$wxs") | sha256sum)
guid() {
  local h
  h=$(printf '%s %s' "$inputs" "$1" | sha256sum | tr a-f A-F)
  printf '%s-%s-5%s-%X%s-%s' "${h:0:8}" "${h:8:4}" "${h:13:3}" $(( (16#${h:16:1} & 3) | 8 )) \
    "${h:17:3}" "${h:20:12}"
}
product_code=$(guid product)
package_code=$(guid package)

mkdir -p "$(dirname "$out")"
# wixl dates the package with the clock and draws a random package code: the clock is stopped
# at the fixed date, and the package code set afterwards.
date=$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
(cd "$stage" && TZ=UTC faketime -f "$date" wixl -a x64 -D ProductVersion="$version" \
   -D ProductCode="$product_code" -D ExePath=TessalineTallyConnector.exe \
   -D ActionsDll=installer_actions.dll -D IconPath=connector.ico -o "$out.tmp" "$wxs")
TZ=UTC faketime -f "$date" msibuild "$out.tmp" \
  -s "Tessaline Tally Connector $version" Tessaline "x64;1033" "{$package_code}"
mv -f "$out.tmp" "$out"
