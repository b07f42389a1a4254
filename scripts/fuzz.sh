#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time: scripts/fuzz.sh [SECONDS] (default 60).
# Fails on any crash, sanitizer report, leak or round-trip mismatch (the target aborts).
# The seed corpus is copied into the build tree, so the run never grows the repository's one.
# TSL_FUZZ_BUILD_DIR chooses another build tree than the preset's (build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${TSL_FUZZ_BUILD_DIR:-build/fuzz}

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_json_parse

work=$build/fuzz-json
rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
cp tests/fuzz/corpus/json/* "$work/corpus/"

status=0
"$build/tests/fuzz/fuzz_json_parse" -max_total_time="$seconds" -max_len=4096 -detect_leaks=1 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 ||
  status=$?
grep -E '^(#[0-9]+ +DONE|stat::|Done )' "$work/log" || true
if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' \
  "$work/log"; then
  tail -60 "$work/log" >&2
  echo "fuzz_json_parse failed (exit $status); inputs kept in $work/artifacts" >&2
  exit 1
fi
echo "fuzz_json_parse: no failure in ${seconds}s ($(ls "$work/corpus" | wc -l) corpus entries)"
