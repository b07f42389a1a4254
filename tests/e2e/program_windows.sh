#!/usr/bin/env bash
# The Windows program: the program file as Windows and Explorer read it; then under Wine:
# --version, the console modes, a tray run that cannot make its window.
set -u
exe=$1 wine_run=$2 prefix=$3 objdump=$4 windres=$5
source "$(dirname "$0")/common.sh"

appdata=$(wine_users "$wine_run" "$prefix")
roaming="$appdata/AppData/Roaming/Tessaline"; local_="$appdata/AppData/Local/Tessaline"
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

pe=$("$objdump" -p "$exe")
check "a 64-bit Windows GUI program: no console window opens with it" \
  'grep -q "file format pei-x86-64" <<<"$pe" && grep -q "^Subsystem.*(Windows GUI)" <<<"$pe"'
dlls=$(awk '/DLL Name/ {print tolower($3)}' <<<"$pe")
bad=$(echo "$dlls" | grep -v -E '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|crypt32|winhttp|comctl32|iphlpapi|msvcrt|ws2_32|bcrypt|ntdll)\.dll$' || true)
check "imports only Windows' own DLLs ($(echo $dlls))" '[ -z "$bad" ]'
# Windows refuses to start a program whose manifest is not well-formed.
manifest=$(wrestool --extract --raw --type=24 --name=1 "$exe")
has() { for fact; do grep -q -- "$fact" <<<"$manifest" || return 1; done; }
check "the manifest: the program's identity, today's controls, no elevation, Windows 10, sharp text at every scale" \
  'python3 -c "import sys, xml.dom.minidom as m; m.parseString(sys.stdin.buffer.read())" <<<"$manifest" &&
   has "<assemblyIdentity [^>]*name=\"Tessaline.TallyConnector\" version=\"$TSL_VERSION.0\"" \
     "<assemblyIdentity [^>]*name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"[^>]* publicKeyToken=\"6595b64144ccf1df\"" \
     "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"" \
     "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"" ">true/pm</dpiAware>" ">PerMonitorV2</dpiAwareness>"'
# Explorer's property sheet finds the strings through the translation table; installers compare
# the numbers.
resource=$("$windres" -i "$exe" -O rc 2>/dev/null | tr -d '\r')
value() { sed -n "s/^ *VALUE \"$1\", \"\(.*\)\"$/\1/p" <<<"$resource"; }
numbers="${TSL_VERSION//./, }, 0"
check "the version information: U.S. English, $TSL_VERSION, the program's name as Task Manager shows it" \
  'grep -q "VALUE \"Translation\", 0x409, 1200$" <<<"$resource" && grep -qx " *BLOCK \"040904b0\"" <<<"$resource" &&
   grep -qx " *FILEVERSION $numbers" <<<"$resource" && grep -qx " *PRODUCTVERSION $numbers" <<<"$resource" &&
   [ "$(value FileVersion)" = "$TSL_VERSION" ] && [ "$(value ProductVersion)" = "$TSL_VERSION" ] &&
   [ "$(value FileDescription)" = "Tessaline Tally Connector" ] && [ "$(value ProductName)" = "Tessaline Tally Connector" ] &&
   [ "$(value CompanyName)" = Tessaline ] && [ "$(value OriginalFilename)" = TessalineTallyConnector.exe ]'

rm -rf "$roaming" "$local_"
out=$("$wine_run" "$exe" --once); rc=$?; out=$(tr -d '\r' <<<"$out")
check "--once unpaired: the state line and exit 1" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: Pair this PC with Tessaline to start syncing" <<<"$out"'
check "a run past --version makes the folders looked for above" '[ -d "$roaming" ] && [ -d "$local_" ]'
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
