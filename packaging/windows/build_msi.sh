#!/usr/bin/env bash
# Builds the per-user MSI with wixl: build_msi.sh VERSION EXE ACTIONS_DLL ICON.ICO OUTPUT.MSI
# wixl finds sources only by names relative to its working folder, so they are linked into a
# scratch folder first.
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 VERSION EXE ACTIONS_DLL ICON.ICO OUTPUT.MSI" >&2
  exit 2
fi
version=$1 exe=$(realpath "$2") dll=$(realpath "$3") ico=$(realpath "$4") out=$(realpath -m "$5")
wxs=$(realpath "$(dirname "$0")/connector.wxs")
if ! command -v wixl >/dev/null; then
  echo "wixl is missing: run scripts/install-deps.sh" >&2
  exit 1
fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
ln -s "$exe" "$stage/TessalineTallyConnector.exe"
ln -s "$dll" "$stage/installer_actions.dll"
ln -s "$ico" "$stage/connector.ico"
mkdir -p "$(dirname "$out")"
(cd "$stage" && wixl -a x64 -D ProductVersion="$version" -D ExePath=TessalineTallyConnector.exe \
   -D ActionsDll=installer_actions.dll -D IconPath=connector.ico -o "$out.tmp" "$wxs")
mv -f "$out.tmp" "$out"
