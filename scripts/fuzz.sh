#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time (seconds, default 60), failing on any crash,
# sanitizer report, leak or round-trip mismatch. The repo's seed corpus is copied, not grown.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_json_parse
work=build/fuzz/corpus-json
rm -rf "$work" && mkdir -p "$work" && cp tests/fuzz/corpus/json/* "$work/"
build/fuzz/tests/fuzz/fuzz_json_parse -max_total_time="$seconds" -max_len=4096 -detect_leaks=1 \
  -print_final_stats=1 "$work" 2>&1 | tail -40
