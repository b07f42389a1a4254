#!/usr/bin/env bash
# Builds every target and runs every test: native (ASan+UBSan), the concurrency tests under
# ThreadSanitizer, the Windows build under Wine, the demo's release build with the benchmarks,
# two release builds of HEAD that must agree byte for byte, and the fuzzers for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)

bash scripts/install-deps.sh

step() { printf '\n==> %s\n' "$*"; }

step "native: configure, build, test"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "native-tsan: concurrency tests under ThreadSanitizer"
cmake --preset native-tsan >/dev/null
cmake --build --preset native-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset native-tsan

step "windows: cross build, tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

step "native-release: the demo's build and the benchmarks compile"
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target connector tsl-sandbox benchmarks

step "reproducible: two release builds of the last commit, in two folders, agree"
bash scripts/check-reproducible.sh

if [ -x scripts/fuzz.sh ]; then
  step "fuzz: bounded runs"
  bash scripts/fuzz.sh "${TSL_FUZZ_SECONDS:-60}"
fi

printf '\nAll tests passed in %ss.\n' "$(( $(date +%s) - start ))"
