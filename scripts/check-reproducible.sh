#!/usr/bin/env bash
# Proves the release reproducible: builds the committed sources (HEAD) twice with
# scripts/release.sh, in two folders of different names and depths, and compares the program,
# the DLL and the MSI byte for byte. Each build is a full Release build of the Windows program
# (about two minutes on two cores); uncommitted changes are not part of it.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
one="$work/a" two="$work/second/checkout-of-the-same-commit"
for tree in "$one" "$two"; do
  mkdir -p "$tree"
  git archive HEAD | tar -x -C "$tree"
  printf '\n==> release build in %s\n' "$tree"
  bash "$tree/scripts/release.sh" >"$tree.log" 2>&1 || { cat "$tree.log"; exit 1; }
done

printf '\nCommit %s, SOURCE_DATE_EPOCH %s:\n' "$(git rev-parse --short HEAD)" "$SOURCE_DATE_EPOCH"
status=0
for path in "$one"/build/release/*; do
  f=$(basename "$path")
  a=$(sha256sum <"$path" | cut -d' ' -f1)
  b=$(sha256sum <"$two/build/release/$f" | cut -d' ' -f1)
  verdict=same
  [ "$a" = "$b" ] || { verdict=DIFFERENT; status=1; }
  printf '  %-36s %s  %s  %s\n' "$f" "$a" "$b" "$verdict"
done
[ "$(ls "$one/build/release" | wc -l)" -eq 3 ] || { echo "expected three artefacts" >&2; exit 1; }
exit $status
