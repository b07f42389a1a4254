#!/usr/bin/env bash
# The Windows program under Wine: --version, imports, the console modes, a tray run that cannot make its window.
set -u
exe=$1 wine_run=$2 prefix=$3 objdump=$4
source "$(dirname "$0")/common.sh"

appdata="$prefix/drive_c/users/${USER:-$(id -un)}"
[ -d "$appdata" ] || appdata=$(ls -d "$prefix"/drive_c/users/*/ 2>/dev/null | grep -v Public | head -1)
roaming="$appdata/AppData/Roaming/Tessaline"; local_="$appdata/AppData/Local/Tessaline"
"$wine_run" cmd /c exit 0 >/dev/null 2>&1   # make sure the prefix exists first
rm -rf "$roaming" "$local_"
out=$("$wine_run" "$exe" --version --pair X); rc=$?; out=$(tr -d '\r' <<<"$out")
check "--version prints the version line" '[ "$out" = "Tessaline Tally Connector $TSL_VERSION" ] && [ $rc -eq 0 ]'
check "--version creates no folder" '[ ! -e "$roaming" ] && [ ! -e "$local_" ]'
# Without any standard output the program makes itself a console to write to.
"$wine_run" "$exe" --version >&- 2>&-; rc=$?
check "--version without standard output still ends with 0" '[ $rc -eq 0 ]'
out=$("$wine_run" "$exe" '/?'); rc=$?; out=$(tr -d '\r' <<<"$out")
check "/? prints the usage and exits 0" \
  '[ $rc -eq 0 ] && grep -q "^Usage: TessalineTallyConnector.exe" <<<"$out" && [ ! -e "$roaming" ]'

dlls=$("$objdump" -p "$exe" | awk '/DLL Name/ {print tolower($3)}')
bad=$(echo "$dlls" | grep -v -E '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|crypt32|winhttp|comctl32|iphlpapi|msvcrt|ws2_32|bcrypt|ntdll)\.dll$' || true)
check "imports only Windows' own DLLs ($(echo $dlls))" '[ -z "$bad" ]'

# The manifest and the version information are read back by test_e2e_executable.

rm -rf "$roaming" "$local_"
out=$("$wine_run" "$exe" --once); rc=$?; out=$(tr -d '\r' <<<"$out")
check "--once unpaired: the state line and exit 1" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: Pair this PC with Tessaline to start syncing" <<<"$out"'
check "a run past --version makes the folders looked for above" '[ -d "$roaming" ] && [ -d "$local_" ]'
err=$("$wine_run" "$exe" --pair CODE --server http://192.168.1.10 2>&1 >/dev/null); rc=$?
err=$(tr -d '\r' <<<"$err")
check "pairing over plain http to another host is refused, exit 2" \
  '[ $rc -eq 2 ] && [ "$err" = "Pairing failed: The server address must start with https://" ]'
check "a refused pairing writes no settings" '[ ! -e "$roaming/Tally Connector/connector.ini" ]'
log="$local_/Tally Connector/logs/connector.log"
rm -f "$log"
"$wine_run" "$exe" --background >/dev/null 2>&1; rc=$?
lines=$(tr -d '\r' <"$log" 2>/dev/null | sed 's/^[0-9 :.-]*//')
expected="[INFO] Tessaline Tally Connector $TSL_VERSION starting
[INFO] Exiting"
# Headless Wine has no window station to create windows on: the tray window cannot be made.
check "tray run without a window: exit 1, starting and Exiting logged" '[ $rc -eq 1 ] && [ "$lines" = "$expected" ]'
rm -rf "$roaming" "$local_"
exit $fail
