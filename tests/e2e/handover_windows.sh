#!/usr/bin/env bash
# Starting the tray program while another copy runs: the new copy posts WM_APP + 2 (0, 0) to the
# running copy's tray window and exits 0 without a log line. The running copy is a stand-in
# (fake_tray.exe) on a private X server, because Wine creates no windows without a display.
set -u
exe=$1 wine_run=$2 prefix=$3 fake=$4
export WINEPREFIX=$prefix
source "$(dirname "$0")/common.sh"
tmp=$(mktemp -d)
xpid=
cleanup() {
  wineserver -w
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# A Wine session that began headless keeps its null display driver; let it end first.
"$wine_run" cmd /c exit 0 >/dev/null 2>&1
wineserver -w
Xvfb -displayfd 3 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
xpid=$!
wait_for '[ -s "$tmp/display" ]' || { echo "FAIL: Xvfb did not start"; exit 1; }
export TSL_WINE_DISPLAY=":$(head -1 "$tmp/display")"

"$wine_run" "$fake" >"$tmp/fake.out" 2>/dev/null &
fpid=$!
wait_for 'grep -q ready "$tmp/fake.out" || ! kill -0 $fpid 2>/dev/null'
check "the stand-in holds the mutex and its window" 'grep -q ready "$tmp/fake.out"'

users=$(ls -d "$prefix"/drive_c/users/*/ | grep -v Public | head -1)
log="${users}AppData/Local/Tessaline/Tally Connector/logs/connector.log"
rm -f "$log"
start=$(date +%s%N)
"$wine_run" "$exe" --background >/dev/null 2>&1; rc=$?
took=$(( ($(date +%s%N) - start) / 1000000 ))
wait "$fpid"; frc=$?
check "the second copy exits 0 (${took} ms)" '[ $rc -eq 0 ]'
check "the running copy got WM_APP + 2 with 0, 0" '[ $frc -eq 0 ] && grep -qx "activated 0 0" <<<"$(tr -d "\r" <"$tmp/fake.out")"'
check "the second copy wrote no log line" '[ ! -s "$log" ]'
exit $fail
