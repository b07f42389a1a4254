#!/usr/bin/env bash
# The Linux program as a process: --version, the console modes,
# single instance.
set -u
exe=$1
source "$(dirname "$0")/common.sh"
home=$(mktemp -d); trap 'rm -rf "$home"' EXIT
run() { env -i HOME="$home" PATH="$PATH" "$exe" "$@"; }

out=$(run --version --pair X); rc=$?
check "--version prints the version line" '[ "$out" = "Tessaline Tally Connector $TSL_VERSION" ] && [ $rc -eq 0 ]'
check "--version creates no folder" '[ -z "$(ls -A "$home")" ]'
for switch in --help -h '/?'; do
  out=$(run --once "$switch"); rc=$?
  check "$switch prints the usage instead of running, exit 0" \
    '[ $rc -eq 0 ] && grep -q "^Usage: tessaline-tally-connector" <<<"$out" && grep -q -- "--pair CODE" <<<"$out" && [ -z "$(ls -A "$home")" ]'
done

out=$(run --once 2>"$home/err"); rc=$?
check "--once unpaired: the state line and exit 1" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: Pair this PC with Tessaline to start syncing" <<<"$out"'
log="$home/.local/state/Tessaline/Tally Connector/logs/connector.log"
check "--once echoes its log lines and writes them to the log" \
  'grep -q "\[WARN\] Not connected to Tessaline" <<<"$out" && grep -q "\[WARN\] Not connected" "$log"'

ini="$home/.config/Tessaline/Tally Connector/connector.ini"
run --pair CODE --server http://192.168.1.10 >"$home/out" 2>"$home/err"; rc=$?
check "pairing over plain http to another host is refused, exit 2" \
  '[ $rc -eq 2 ] && [ "$(cat "$home/err")" = "Pairing failed: The server address must start with https://" ] && [ ! -s "$home/out" ]'
check "a refused pairing writes no settings" '[ ! -e "$ini" ]'

# An empty argument is a value of its own, so this is a "--once" run, not a pairing.
out=$(run --pair "" --once 2>&1); rc=$?
check "--pair with an empty code and --once runs the pass" \
  '[ $rc -eq 1 ] && grep -q "^Not connected to Tessaline" <<<"$out" && ! grep -q "Pairing failed" <<<"$out"'

# Single instance: hold the lock as a running copy would, then start a second one.
lock="$home/run/tessaline-tally-connector.lock"; mkdir -p "$home/run"
exec 9>"$lock"; flock 9
rm -f "$log"
out=$(env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" PATH="$PATH" "$exe"); rc=$?
check "a second copy says so and exits 0" '[ $rc -eq 0 ] && [ "$out" = "Tessaline Tally Connector is already running." ]'
check "a second copy writes no log line" '[ ! -s "$log" ]'
exec 9>&-
exit $fail
