#!/usr/bin/env bash
# The Windows program under Wine: --version, imports, resources, the unbuilt modes.
set -u
exe=$1 wine_run=$2 prefix=$3 objdump=$4 windres=$5
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

appdata="$prefix/drive_c/users/${USER:-$(id -un)}"
[ -d "$appdata" ] || appdata=$(ls -d "$prefix"/drive_c/users/*/ 2>/dev/null | grep -v Public | head -1)
roaming="$appdata/AppData/Roaming/Tessaline"; local_="$appdata/AppData/Local/Tessaline"
"$wine_run" cmd /c exit 0 >/dev/null 2>&1   # make sure the prefix exists first
rm -rf "$roaming" "$local_"
out=$("$wine_run" "$exe" --version --pair X); rc=$?; out=$(tr -d '\r' <<<"$out")
check "--version prints the version line" '[ "$out" = "Tessaline Tally Connector 1.0.0" ] && [ $rc -eq 0 ]'
check "--version creates no folder" '[ ! -e "$roaming" ] && [ ! -e "$local_" ]'

dlls=$("$objdump" -p "$exe" | awk '/DLL Name/ {print tolower($3)}')
bad=$(echo "$dlls" | grep -v -E '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|crypt32|winhttp|comctl32|msvcrt|ws2_32|bcrypt|ntdll)\.dll$' || true)
check "imports only Windows' own DLLs ($(echo $dlls))" '[ -z "$bad" ]'

rc_text=$("$windres" -i "$exe" -O rc 2>/dev/null)
for v in '"CompanyName", "Tessaline"' '"FileDescription", "Tessaline Tally Connector"' \
         '"FileVersion", "1.0.0"' '"InternalName", "TessalineTallyConnector"' \
         '"OriginalFilename", "TessalineTallyConnector.exe"' '"ProductName", "Tessaline Tally Connector"' \
         '"ProductVersion", "1.0.0"' 'BLOCK "040904b0"' '0x409, 1200'; do
  check "version resource has $v" 'grep -qF -- "$v" <<<"$rc_text"'
done
for m in 'name="Tessaline.TallyConnector"' 'version="1.0.0.0"' 'Microsoft.Windows.Common-Controls' \
         'level="asInvoker"' 'uiAccess="false"' 'true/pm' 'PerMonitorV2' \
         '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{1f676c76-80e1-4239-95bb-83d0f6d0da78}' \
         '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
  check "manifest has $m" 'strings "$exe" | grep -qF -- "$m"'
done

rm -rf "$roaming" "$local_"
out=$("$wine_run" "$exe" --once); rc=$?; out=$(tr -d '\r' <<<"$out")
check "--once unpaired: the state line and exit 1" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: Pair this PC with Tessaline to start syncing" <<<"$out"'
err=$("$wine_run" "$exe" --pair CODE --server http://192.168.1.10 2>&1 >/dev/null | tr -d '\r'); rc=$?
check "pairing over plain http to another host is refused, exit 2" \
  '[ "$err" = "Pairing failed: The server address must start with https://" ]'
check "a refused pairing writes no settings" '[ ! -e "$roaming/Tally Connector/connector.ini" ]'
rm -rf "$roaming" "$local_"
exit $fail
