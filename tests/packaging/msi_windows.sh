#!/usr/bin/env bash
# The per-user MSI: the program's icon in the exe and the package, its tables, then under Wine,
# in this build's prefix, an upgrade from an older version while it runs, a refused downgrade and
# a silent uninstall that keeps the user's settings and logs. The program runs on a private X
# server and is reached with ui_driver.exe.
set -u
build_msi=$1 version=$2 exe=$3 dll=$4 ico=$5 wine_run=$6 prefix=$7 driver=$8
source "$(dirname "$0")/../e2e/common.sh"
work=$(mktemp -d)
xpid=
cleanup() {
  # A program left running by a failed check would keep the Wine session alive.
  drive post TessalineTallyConnectorTray '*' 0x0010 0 0 15000 >/dev/null
  timeout 60 wineserver -w
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Signed as scripts/release.sh --sign does, with a throw-away certificate and no time stamp; the
# steps under Wine install and run the signed files.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessaline test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throwaway \
    -out "$work/sign.pfx" || { echo "FAIL: making a certificate"; exit 1; }
sign() { TSL_SIGN_PASSWORD=throwaway bash "$(dirname "$build_msi")/sign.sh" "$work/sign.pfx" "$@"; }
signed() {
  osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1 &&
    grep -q '^Message digest algorithm *: SHA256' "$work/verify.log"
}
unsigned_exe=$exe
cp "$exe" "$work/TessalineTallyConnector.exe" && cp "$dll" "$work/installer_actions.dll"
exe=$work/TessalineTallyConnector.exe dll=$work/installer_actions.dll
sign "$exe" "$dll" || { echo "FAIL: signing"; exit 1; }

msi="$work/TessalineTallyConnector-$version.msi"
rebuilt="$work/rebuilt.msi"   # another build of the same version (another commit's date)
old="$work/TessalineTallyConnector-0.9.0.msi"
export SOURCE_DATE_EPOCH=1700000000
for m in "$version $msi" "$version $rebuilt" "0.9.0 $old"; do
  [ "${m#* }" = "$rebuilt" ] && SOURCE_DATE_EPOCH=1700086400
  bash "$build_msi" "${m%% *}" "$exe" "$dll" "$ico" "${m#* }" || { echo "FAIL: building ${m#* }"; exit 1; }
done
# scripts/check-reproducible.sh builds the release twice and compares the MSIs.

sign "$msi" || { echo "FAIL: signing the MSI"; exit 1; }
mkdir "$work/files" && msiextract -C "$work/files" "$msi" >/dev/null
msiinfo extract "$msi" Binary.InstallerActions >"$work/files/actions.dll"
check "the MSI, and the program and the DLL it carries, have a SHA-256 signature" \
  'signed "$msi" && signed "$(find "$work/files" -name TessalineTallyConnector.exe)" &&
   signed "$work/files/actions.dll" && ! signed "$unsigned_exe"'

# --- The package's tables.
table() { msiinfo export "$msi" "$1" | tr -d '\r'; }
property() { table Property | awk -F'\t' -v k="$1" '$1 == k { print $2 }'; }

# Explorer shows the exe's first icon group; wrestool rebuilds the .ico file from it (padded
# with zeros).
first_icon=$(wrestool --list --type=group_icon "$exe" | sed -n '1s/.*--name=\([^ ]*\).*/\1/p')
wrestool --extract --type=group_icon --name="$first_icon" --output="$work/exe.ico" "$exe"
check "the exe's first icon is the program's, 16 to 256 px ($(icotool -l "$ico" | wc -l) sizes)" \
  'cmp -s -n "$(stat -c %s "$ico")" "$work/exe.ico" "$ico" && icotool -l "$ico" | grep -q -- "--width=16 " &&
   icotool -l "$ico" | grep -q -- "--width=256 "'
icon_name=$(property ARPPRODUCTICON)
msiinfo extract "$msi" "Icon.$icon_name" >"$work/msi.ico" 2>/dev/null
shortcut_icon=$(table Shortcut | awk -F'\t' '$1 == "StartMenuShortcut" { print $9 }')
check "the package's icon ($icon_name) is the program's, for Apps & features and the shortcut" \
  '[ -n "$icon_name" ] && cmp -s "$work/msi.ico" "$ico" && [ "$shortcut_icon" = "$icon_name" ]'
check "product name, version (project(VERSION)) and manufacturer" \
  '[ "$(property ProductName)" = "Tessaline Tally Connector" ] && [ "$(property ProductVersion)" = "$version" ] &&
   [ "$(property Manufacturer)" = "Tessaline" ]'
# Changing it would make the next version install beside this one instead of replacing it.
check "the upgrade code is the one every version shares" \
  '[ "$(property UpgradeCode)" = "{C469DF32-3FB7-4E57-8D77-E7E8187D8744}" ]'
source_flags=$(msiinfo suminfo "$msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
check "per-user: no ALLUSERS, and the package asks for no elevation" \
  '[ -z "$(property ALLUSERS)" ] && [ $(( source_flags & 8 )) -eq 8 ]'
# Windows runs an upgrade's removal of the old version with UPGRADINGPRODUCTCODE; Wine does not,
# and there the new version writes the value again (checked below).
cleanup_condition=$(table InstallExecuteSequence | awk -F'\t' '$1 == "RemoveStartAtLogon" { print $2 }')
check "the start-at-logon value goes on a full uninstall, not in an upgrade" \
  '[ "$cleanup_condition" = "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE" ]'

# --- Under Wine.
win() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() { "$wine_run" msiexec "$1" "$(win "$2")" /qn >/dev/null 2>&1; }
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
run_value() { "$wine_run" reg query "$run_key" /v 'Tessaline Tally Connector' >/dev/null 2>&1; }
set_run_value() {
  "$wine_run" reg add "$run_key" /v 'Tessaline Tally Connector' /t REG_SZ /f \
    /d "\"C:\\users\\$user\\AppData\\Local\\Programs\\Tessaline Tally Connector\\TessalineTallyConnector.exe\" --background" >/dev/null 2>&1
}
# "{code} version" of every registered copy of the product (Wine lists them all in HKLM).
registered() {
  "$wine_run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | awk '/^HKEY/ { n = split($0, p, "\\"); key = p[n]; name = ""; next }
      $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }
      $1 == "DisplayVersion" && name == "Tessaline Tally Connector" { print key, $3 }'
}
per_user() {
  "$wine_run" reg query 'HKCU\Software\Microsoft\Installer\Products' /s 2>/dev/null |
    tr -d '\r' | grep -q 'ProductName.*Tessaline Tally Connector'
}

export WINEPREFIX=$prefix
users=$(wine_users "$wine_run" "$prefix") user=$(basename "$users") profile="$users/AppData"
start_x "$work" || { echo "FAIL: Xvfb did not start"; exit 1; }
drive() { "$wine_run" "$driver" "$@" 2>/dev/null | tr -d '\r'; }
# "PID\tPATH" of the running tray program, or nothing.
running() { local r; r=$(drive process TessalineTallyConnectorTray '*' "${1:-0}"); [[ $r == ok* ]] && echo "${r#ok }"; }
program="$profile/Local/Programs/Tessaline Tally Connector/TessalineTallyConnector.exe"
shortcut="$profile/Roaming/Microsoft/Windows/Start Menu/Programs/Tessaline Tally Connector.lnk"
settings="$profile/Roaming/Tessaline/Tally Connector/connector.ini"
log="$profile/Local/Tessaline/Tally Connector/logs/connector.log"

# Leftovers of an interrupted run would hide what this run installs.
for code in $(registered | cut -d' ' -f1); do "$wine_run" msiexec /x "$code" /qn >/dev/null 2>&1; done
mkdir -p "$(dirname "$settings")" "$(dirname "$log")"
printf '[server]\r\nurl=https://example.test/tessaline/api\r\n' >"$settings"
printf 'a log line\r\n' >"$log"
cp "$settings" "$work/settings.expected"; cp "$log" "$work/log.expected"

msiexec /i "$old"; rc=$?
check "the older version installs without administrator rights" '[ $rc -eq 0 ] && [ "$(registered | cut -d" " -f2)" = "0.9.0" ]'
set_run_value
"$wine_run" "$program" --background >/dev/null 2>&1 &
tray=$!
before=$(running 30000)
check "the installed program runs ($before)" '[ -n "$before" ]'
msiexec /i "$msi"; rc=$?
check "$version replaces it in place: one registered copy" \
  '[ $rc -eq 0 ] && [ "$(registered | cut -d" " -f2)" = "$version" ]'
rc="still running"
wait_for '! kill -0 "$tray" 2>/dev/null' && { wait "$tray"; rc=$?; }
check "the running program was closed first, as E&xit does: exit code 0 ($rc)" \
  '[ "$rc" = 0 ] && [ "$(tr -d "\r" <"$log" | grep -c "\] Exiting$")" = 1 ]'
after=$(running 30000)
check "and the installed one runs again afterwards ($after)" \
  '[ -n "$after" ] && [ "${after%%\\t*}" != "${before%%\\t*}" ] && [[ $after == *Programs*TessalineTallyConnector.exe ]]'
check "registered for this user only" 'per_user'
check "the upgrade kept start at logon" 'run_value'
first=$(registered)
msiexec /i "$rebuilt"; rc=$?
check "another build of $version replaces it too" \
  '[ $rc -eq 0 ] && [ "$(registered | wc -l)" -eq 1 ] && [ "$(registered)" != "$first" ]'
out=$("$wine_run" "$program" --version | tr -d '\r')
check "the program is in the user's programs folder and says \"$out\"; the Start-menu shortcut is there" \
  '[ "$out" = "Tessaline Tally Connector $version" ] && [ -f "$shortcut" ]'
running=$(running 30000)
msiexec /i "$old"; rc=$?
check "an older version does not install over a newer one, nor closes the program" \
  '[ $rc -ne 0 ] && [ "$(registered | cut -d" " -f2)" = "$version" ] && [ -f "$program" ] &&
   [ -n "$running" ] && [ "$(running)" = "$running" ]'

set_run_value
check "start at logon switched on" 'run_value'
msiexec /x "$rebuilt"; rc=$?
check "silent uninstall succeeds and unregisters" '[ $rc -eq 0 ] && [ -z "$(registered)" ]'
check "the running program was closed and not started again" '[ -z "$(running)" ]'
check "the program's folder, the shortcut, the start-at-logon value and the installer's key are gone" \
  '[ ! -e "$(dirname "$program")" ] && [ ! -e "$shortcut" ] && ! run_value &&
   ! "$wine_run" reg query "HKCU\\Software\\Tessaline" >/dev/null 2>&1'
check "the user's settings are kept as they were, the log with the program's own lines" \
  'cmp -s "$settings" "$work/settings.expected" &&
   cmp -s -n "$(stat -c %s "$work/log.expected")" "$log" "$work/log.expected"'

rm -rf "$profile/Roaming/Tessaline" "$profile/Local/Tessaline"
exit $fail
