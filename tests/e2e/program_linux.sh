#!/usr/bin/env bash
# The Linux program as a process: --version, the console modes. A second copy: agent.sh.
set -u
source "$(dirname "$0")/common.sh"
use_program linux "$1"

out=$(run --version --pair X); rc=$?
check "--version prints the version line" '[ "$out" = "Tessaline Tally Connector $TSL_VERSION" ] && [ $rc -eq 0 ]'
check "--version creates no folder" '[ "$(ls -A "$home")" = run ]'
# Which switches ask for it: tests/app.
out=$(run --once -h); rc=$?
check "-h prints the usage instead of running, exit 0" \
  '[ $rc -eq 0 ] && grep -q "^Usage: tessaline-tally-connector" <<<"$out" && grep -q -- "--pair CODE" <<<"$out" && [ "$(ls -A "$home")" = run ]'

out=$(run --once 2>"$work/err"); rc=$?
check "--once unpaired: the state line and exit 1" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: Pair this PC with Tessaline to start syncing" <<<"$out"'
log="$state/logs/connector.log"
check "--once echoes its log lines and writes them to the log" \
  'grep -q "\[WARN\] Not connected to Tessaline" <<<"$out" && grep -q "\[WARN\] Not connected" "$log"'

exit $fail
