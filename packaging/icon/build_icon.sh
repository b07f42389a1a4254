#!/usr/bin/env bash
# Makes the program's icons from the drawing: build_icon.sh ICON.SVG OUT_DIR
# writes OUT_DIR/tessaline-tally-connector.ico (16 to 256 px, for the Windows program and its
# installer) and OUT_DIR/NxN.png (the Linux icon theme's sizes). The small sizes are kept as
# bitmaps, which every Windows reads; 64 px and up as PNG, which Windows reads since Vista and
# which keeps the 256 px picture small.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 ICON.SVG OUT_DIR" >&2
  exit 2
fi
svg=$1 out=$2
for tool in rsvg-convert icotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/install-deps.sh" >&2
    exit 1
  fi
done
mkdir -p "$out"
bitmaps=() pngs=()
for size in 16 24 32 48 64 128 256; do
  png="$out/${size}x${size}.png"
  rsvg-convert --width "$size" --height "$size" --output "$png.tmp" "$svg"
  mv -f "$png.tmp" "$png"
  if [ "$size" -lt 64 ]; then bitmaps+=("$png"); else pngs+=(--raw="$png"); fi
done
icotool --create --output "$out/tessaline-tally-connector.ico.tmp" "${bitmaps[@]}" "${pngs[@]}"
mv -f "$out/tessaline-tally-connector.ico.tmp" "$out/tessaline-tally-connector.ico"
