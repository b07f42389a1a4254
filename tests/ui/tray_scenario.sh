#!/usr/bin/env bash
# The Windows tray program used the way a person would: under Wine on a private X server, in a
# virtual desktop with a task bar (so the notification area can be seen), next to a fresh
# sandbox, driven by ui_driver.exe; and through the PC's day: resume, a network that comes back,
# Explorer restarting, the end of the session, an installer closing it, 96 and 144 DPI.
# Screenshots go to SHOTS_DIR.
#   tray_scenario.sh EXE DRIVER WINE_RUN WINEPREFIX SANDBOX_PROGRAM SHOTS_DIR
# (registered as the CTest test e2e_tray_ui of the Windows build: ctest -R e2e_tray_ui).
# It runs in a private network namespace with only the loopback interface when the system
# allows one: then nothing the program does can leave this machine, and port 9000 is free.
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1 driver=$2 wine_run=$3 prefix=$4 sandbox=$5 shots=$6

if [ -z "${TSL_UI_NETWORK:-}" ]; then
  if command -v ip >/dev/null && unshare -n true 2>/dev/null; then
    exec unshare -n -- bash -c 'ip link set lo up && TSL_UI_NETWORK=loopback exec bash "$@"' \
      _ "$0" "$@"
  fi
  export TSL_UI_NETWORK=shared
fi
if [ -z "${TSL_SANDBOX_CONTROL:-}" ]; then
  exec bash "$here/../../tools/sandbox/with-sandbox.sh" "$sandbox" --poll-seconds 600 \
    --organisation "Süd Öl Traders" --company "Kaveri Exports" -- bash "$0" "$@"
fi

export WINEPREFIX=$prefix
fail=0
# What the screen shows, printed after a failed check (once the driver runs).
on_screen() {
  [ -n "${DRIVER[1]:-}" ] || return 0
  local kept=$reply
  say windows
  echo "  windows: ${reply#ok }"
  reply=$kept
}
same() {  # same WHAT ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    printf 'FAIL: %s\n  got:      %s\n  expected: %s\n' "$1" "$2" "$3"
    on_screen
    fail=1
  fi
}
check() {
  if eval "$2"; then
    echo "ok: $1"
  else
    echo "FAIL: $1${reply:+ (last driver answer: $reply)}"
    on_screen
    fail=1
  fi
}
ctl() { curl -fsS -X "$1" "$TSL_SANDBOX_CONTROL$2" ${3:+-d "$3"}; }
json() { python3 -c "import json,sys; v=json.load(sys.stdin); print($1)"; }
esc() {  # the driver's escaped form of a text
  local s=$1
  s=${s//\\/\\\\} s=${s//$'\r'/\\r} s=${s//$'\n'/\\n} s=${s//$'\t'/\\t}
  printf '%s' "$s"
}
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

tmp=$(mktemp -d)
xpid= conn= driver_pid= reply=
users=
dpi_before=-  # the prefix's own LogPixels ("-": none)
restore_prefix() {
  # Leave the shared prefix as other tests expect it: no virtual desktop, no Run entry, its DPI.
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Control Panel\Desktop]' "\"LogPixels\"=$dpi_before" '' \
    '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"=-' '' \
    '[-HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '' \
    '[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]' \
    '"Tessaline Tally Connector"=-' '' '[-HKEY_CURRENT_USER\Software\Wine\WineBrowser]' \
    >"$tmp/restore.reg"
  TSL_WINE_DISPLAY= "$wine_run" regedit /s "$(winpath "$tmp/restore.reg")" >/dev/null 2>&1
  timeout 60 wineserver -w
}
cleanup() {
  [ -n "$conn" ] && kill "$conn" 2>/dev/null
  [ -n "${DRIVER[1]:-}" ] && eval "exec ${DRIVER[1]}>&-"  # the driver ends at end of input
  [ -n "$driver_pid" ] && wait "$driver_pid" 2>/dev/null
  timeout 60 wineserver -w
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  restore_prefix
  [ -n "$users" ] && rm -rf "$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline"
  rm -rf "$tmp"
}
trap cleanup EXIT

# ---- the stage: a virtual desktop with a task bar on a private X server ----
"$wine_run" cmd /c exit 0 >/dev/null 2>&1
users="$prefix/drive_c/users/${USER:-$(id -un)}"
[ -d "$users" ] || users=$(ls -d "$prefix"/drive_c/users/*/ | grep -v Public | head -1)
rm -rf "$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline"
dpi=$("$wine_run" reg query 'HKCU\Control Panel\Desktop' /v LogPixels 2>/dev/null | tr -d '\r' |
  awk '$1 == "LogPixels" { print $3 }')
[ -n "$dpi" ] && dpi_before=$(printf 'dword:%08x' "$dpi")
ini="$users/AppData/Roaming/Tessaline/Tally Connector/connector.ini"
log="$users/AppData/Local/Tessaline/Tally Connector/logs/connector.log"
set_dpi() {  # set_dpi DPI: the screen's DPI for the next Wine session
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Control Panel\Desktop]' "$(printf '"LogPixels"=dword:%08x' "$1")" \
    >"$tmp/dpi.reg"
  "$wine_run" regedit /s "$(winpath "$tmp/dpi.reg")" >/dev/null 2>&1
}
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_CURRENT_USER\Control Panel\Desktop]' '"LogPixels"=dword:00000060' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\Default]' '"EnableShell"=dword:00000001' \
  '' '[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]' \
  '"Tessaline Tally Connector"=-' '' \
  '[HKEY_CURRENT_USER\Software\Wine\WineBrowser]' "\"Browsers\"=\"$tmp/browser.sh\"" \
  >"$tmp/desktop.reg"
# The web browser that Wine starts for a web address: it only notes the address.
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s/browser-urls"\n' "$tmp" >"$tmp/browser.sh"
chmod +x "$tmp/browser.sh"
"$wine_run" regedit /s "$(winpath "$tmp/desktop.reg")" >/dev/null 2>&1
timeout 60 wineserver -w  # a session begun without a display keeps its null driver

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
export TSL_WINE_DISPLAY=":$(head -1 "$tmp/display")"
rm -rf "$shots" && mkdir -p "$shots"

start_driver() {
  coproc DRIVER { "$wine_run" "$driver" 2>/dev/null; }
  driver_pid=$DRIVER_PID
}
start_driver
say() {  # say COMMAND ARGS...: one driver command, its answer in $reply
  local line="" word
  for word in "$@"; do
    word=${word//\\/\\\\} word=${word//\"/\\\"} word=${word//$'\n'/\\n} word=${word//$'\r'/\\r}
    line+=" \"$word\""
  done
  printf '%s\n' "${line# }" >&"${DRIVER[1]}"
  IFS= read -r -t 90 reply <&"${DRIVER[0]}" || reply="error: the driver did not answer"
  reply=${reply%$'\r'}
}
until_reply() {  # until_reply WANTED SECONDS COMMAND ARGS...
  local wanted=$1 end=$((SECONDS + $2))
  shift 2
  while say "$@"; [ "$reply" != "$wanted" ]; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}
# Pixels of an icon colour in the task bar: the notification area is its only coloured part.
tray_pixels() { say count-colour Shell_TrayWnd '*' "$@"; echo "${reply#ok }"; }
RED="207 34 46" GREEN="46 160 67"
shot() { say "$@"; check "screenshot ${*: -1}" '[[ $reply == ok* ]]'; }

say wait-shown Shell_TrayWnd '*' 30000
check "Wine shows a desktop with a task bar" '[ "$reply" = ok ]'

CONN="Tessaline Tally Connector - Connection"
STATUS="Tessaline Tally Connector"  # also the title of every message box
NOT_PAIRED='Not paired. In Tessaline open Accounting > Tally Sync, click "Generate pairing code" and enter it here.'
ORG="Süd Öl Traders" COMPANY="Kaveri Exports"
PAIRED="Paired with $ORG. To move to another PC, generate a new code in Tessaline and pair that PC."

# Each control's rectangle (dialog units) as the templates define it; 0 is the client area.
layout_matches() {  # layout_matches TITLE "ID X Y W H"...
  local title=$1 row
  shift
  for row in "$@"; do
    # shellcheck disable=SC2086
    say layout "$title" "Segoe UI" 9 $row
    local sizes=${reply#ok }
    local actual=${sizes%%\\t*} wanted=${sizes##*\\t}
    check "\"$title\" control ${row%% *} at $actual (template: $wanted)" \
      '[[ $reply == ok* ]] && [ "$actual" = "$wanted" ]'
  done
}
texts_fit() {  # texts_fit TITLE MINIMUM-COUNT
  say fit "$1" "Segoe UI" 9
  check "\"$1\": no text clipped" \
    '[[ $reply =~ ^ok\ ([0-9]+)\ checked$ ]] && [ "${BASH_REMATCH[1]}" -ge '"$2"' ]'
}

# ---- first start, not paired ----
"$wine_run" "$exe" >/dev/null 2>&1 &
conn=$!
say wait-dialog "$CONN" 30000
check "first start unpaired opens the connection dialog" '[ "$reply" = ok ]'
say text "$CONN" 1005
same "not-paired status line" "$reply" "ok $(esc "$NOT_PAIRED")"
say enabled "$CONN" 1004
same "\"Unpair this PC\" disabled" "$reply" "ok 0"
say text "$CONN" 1006; host=$reply
say text "$CONN" 1007
same "Tally host and port show the defaults" "$host / $reply" "ok localhost / ok 9000"
say send-item "$CONN" 1002 0xD5 0 0  # EM_GETLIMITTEXT
same "the pairing code takes at most 12 characters" "$reply" "ok 12"
CONN_LAYOUT=("0 0 0 300 208" "1001 80 21 205 14" "1002 80 41 70 14" "1003 156 41 60 14"
  "1004 221 41 64 14" "1005 15 61 270 30" "1006 80 114 120 14" "1007 230 114 55 14"
  "1008 15 134 60 14" "1009 80 134 205 40" "1 187 186 50 14" "2 243 186 50 14")
layout_matches "$CONN" "${CONN_LAYOUT[@]}"
texts_fit "$CONN" 12
say count-colour '#32770' "$CONN" $GREEN
check "the dialog's caption shows the green icon" '[[ $reply =~ ^ok\ [1-9] ]]'
caption_at_96=${reply#ok }
n=0
for _ in $(seq 50); do n=$(tray_pixels $RED); [ "${n:-0}" -gt 20 ] 2>/dev/null && break; sleep 0.2; done
check "unpaired: the tray icon is red ($n pixels)" '[ "${n:-0}" -gt 20 ] 2>/dev/null'
say wait-shown tooltips_class32 '*' 1000
check "no balloon for the first \"not connected\" after start" '[[ $reply == error* ]]'
shot capture '#32770' "$CONN" "$shots/connection-unpaired-96dpi.png"
shot capture-desktop "$shots/desktop-unpaired-96dpi.png"

# ---- refused pairings: nothing reaches any server ----
# Plain http to another host, and https in capitals. Outside a private namespace only addresses
# of this machine are tried, in case the program sent something after all.
refused=("HTTPS://127.0.0.1:9/tessaline/api")
if [ "$TSL_UI_NETWORK" = loopback ]; then
  refused+=(http://192.168.1.10 http://localhost.example.com/tessaline/api)
else
  refused+=(http://127.0.0.2:9/tessaline/api)
fi
say set-text "$CONN" 1002 "ABCD-2345"
for address in "${refused[@]}"; do
  say set-text "$CONN" 1001 "$address"
  say click "$CONN" 1003
  say msgbox "$CONN"
  same "pairing with $address is refused" "$reply" \
    "ok Tessaline Tally Connector$(esc $'\t')The server address must start with https://$(esc $'\t')1"
  [ "$address" = "${refused[-1]}" ] && shot capture '#32770' "$STATUS" "$shots/refused-address-message.png"
  say answer "$CONN" 1
done
say text "$CONN" 1001; typed=$reply
say text "$CONN" 1005
same "after the refusal the input stays and the status line is unchanged" "$typed | $reply" \
  "ok $(esc "${refused[-1]}") | ok $(esc "$NOT_PAIRED")"

say set-text "$CONN" 1001 "$TSL_SANDBOX_API"
say set-text "$CONN" 1002 "   "
say click "$CONN" 1003
say msgbox "$CONN"
same "a blank code is refused" "$reply" \
  "ok Tessaline Tally Connector$(esc $'\t')Enter the pairing code shown in Tessaline.$(esc $'\t')1"
say answer "$CONN" 1
check "no pairing request reached Tessaline" \
  '[ "$(ctl GET /api/requests | json "len(v)")" = 0 ]'

# ---- pairing with the sandbox's code ----
say set-text "$CONN" 1002 "$TSL_SANDBOX_PAIRING_CODE"
say set-text "$CONN" 1006 127.0.0.1
say set-text "$CONN" 1007 "$TSL_SANDBOX_TALLY_PORT"
say click "$CONN" 1003
say msgbox "$CONN" 30000
same "pairing succeeds with the organisation's name" "$reply" \
  "ok Tessaline Tally Connector$(esc $'\t')$(esc "This PC is now connected to Tessaline ($ORG).

Keep Tally open with your company loaded. Choose the company and switch sync on in Tessaline under Accounting > Tally Sync.")$(esc $'\t')1"
shot capture '#32770' "$STATUS" "$shots/paired-message.png"
say answer "$CONN" 1
say text "$CONN" 1005
same "paired status line" "$reply" "ok $(esc "$PAIRED")"
say text "$CONN" 1002; code=$reply
say enabled "$CONN" 1004
same "the code field is emptied, \"Unpair this PC\" enabled" "$code | $reply" "ok | ok 1"
check "the log says whom it paired with" \
  'tr -d "\r" <"$log" | grep -q "\[INFO\] Paired with Tessaline ($ORG)$"'
settings=$( (iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || cat "$ini") | tr -d '\r')
token=$(ctl GET /api/state | json 'v["tokens"][0]')
check "the settings hold the address, Tally's address and the organisation" \
  'grep -qxF "url=$TSL_SANDBOX_API" <<<"$settings" && grep -qx "host=127.0.0.1" <<<"$settings" &&
   grep -qx "port=$TSL_SANDBOX_TALLY_PORT" <<<"$settings" && grep -qxF "organisation=$ORG" <<<"$settings"'
check "the token is stored, but never in clear" \
  'grep -q "^token=..*" <<<"$settings" && ! grep -qF "$token" "$ini"'
run_key='Software\Microsoft\Windows\CurrentVersion\Run'
say registry "$run_key" "Tessaline Tally Connector"
same "pairing turns on starting with Windows" "$reply" "ok $(esc "\"$(winpath "$exe")\" --background")"
shot capture '#32770' "$CONN" "$shots/connection-paired.png"

# ---- Tally test ----
say click "$CONN" 1008
until_reply "ok OK: TallyPrime Server is Running" 15 text "$CONN" 1009
same "Test Tally against the sandbox's Tally" "$reply" "ok OK: TallyPrime Server is Running"
if [ "$TSL_UI_NETWORK" = loopback ] || ! (exec 3<>/dev/tcp/127.0.0.1/9000) 2>/dev/null; then
  say set-text "$CONN" 1006 ""
  say set-text "$CONN" 1007 ""
  say click "$CONN" 1008
  help="Tally is not running, or its XML server is off (expected at http://localhost:9000/). In Tally: F1 (Help) > Settings > Connectivity > Client/Server configuration: TallyPrime acts as Server/Both, port 9000."
  until_reply "ok $help" 15 text "$CONN" 1009
  same "Test Tally with empty host and port on a closed port" "$reply" "ok $help"
  texts_fit "$CONN" 13  # the help sentence must be readable up to its port number
  shot capture '#32770' "$CONN" "$shots/connection-tally-test.png"
else
  echo "skipped: something listens on port 9000 here"
fi
say set-text "$CONN" 1006 127.0.0.1

# ---- saving ----
before=$(od -c "$ini")
for port in 0 65536 ""; do
  say set-text "$CONN" 1007 "$port"
  say click "$CONN" 1
  say msgbox "$CONN"
  same "Save with the port \"$port\" is refused" "$reply" \
    "ok Tessaline Tally Connector$(esc $'\t')Enter a valid Tally port (usually 9000).$(esc $'\t')1"
  say answer "$CONN" 1
done
say count-dialogs "$CONN"
check "after a refused save the dialog stays open and nothing is saved" \
  '[ "$reply" = "ok 1" ] && [ "$(od -c "$ini")" = "$before" ]'
say set-text "$CONN" 1007 "$TSL_SANDBOX_TALLY_PORT"
say click "$CONN" 1
say wait-gone '#32770' "$CONN"
check "Save with a good port closes the dialog" '[ "$reply" = ok ]'

# ---- syncing, the status dialog and the green icon ----
ctl POST /api/jobs '{"generate":2}' >/dev/null
say post TessalineTallyConnectorTray '*' 0x0111 2001 0
say wait-dialog "$STATUS"
check "the Status command opens the status dialog" '[ "$reply" = ok ]'
say click "$STATUS" 1102
say machine-name; machine=${reply#ok }
synced_text() {
  printf '%s\r\n' "Status:  Up to date" "         Synced with $COMPANY" "" \
    "Tessaline:  $TSL_SANDBOX_API" "Organisation:  $ORG" "Tally company:  $COMPANY" \
    "Tally:  TallyPrime Server is Running  [127.0.0.1:$TSL_SANDBOX_TALLY_PORT]" "" \
    "Last completed sync:  $1" "Jobs this session:  2" \
    "Last job:  import: Job job-2: 1 of 1 requests carried out" "" "Version $TSL_VERSION on $machine"
}
for _ in $(seq 150); do
  say text "$STATUS" 1101
  [[ $reply == *"Up to date"*"Jobs this session:  2"* ]] && break
  sleep 0.2
done
stamp=$(sed -n 's/.*Last completed sync:  \([^\\]*\)\\r.*/\1/p' <<<"$reply")
check "the last sync time reads DD-MM-YYYY hh:mm ($stamp)" \
  '[[ $stamp =~ ^[0-3][0-9]-[01][0-9]-20[0-9][0-9]\ [0-2][0-9]:[0-5][0-9]$ ]]'
same "the status dialog after \"Sync now\"" "$reply" "ok $(esc "$(synced_text "$stamp")")\\n"
check "Tessaline received both results" \
  '[ "$(ctl GET /api/results | json "len(v)")" = 2 ]'
STATUS_LAYOUT=("0 0 0 320 182" "1101 7 7 306 148" "1102 7 161 60 14" "1103 72 161 70 14"
  "2 263 161 50 14")
layout_matches "$STATUS" "${STATUS_LAYOUT[@]}"
texts_fit "$STATUS" 3
for _ in $(seq 50); do
  green=$(tray_pixels $GREEN) red=$(tray_pixels $RED)
  [ "${green:-0}" -gt 20 ] 2>/dev/null && [ "$red" = 0 ] && break
  sleep 0.2
done
check "synced: the tray icon is green ($green green, $red red pixels)" \
  '[ "${green:-0}" -gt 20 ] 2>/dev/null && [ "$red" = 0 ]'
shot capture '#32770' "$STATUS" "$shots/status-96dpi.png"
say locate-colour Shell_TrayWnd '*' $GREEN
# shellcheck disable=SC2086
say mouse ${reply#ok } move
say wait-shown tooltips_class32 '*' 5000
check "pointing at the icon shows its tooltip" '[ "$reply" = ok ]'
shot capture-desktop "$shots/desktop-tray-tooltip.png"
say mouse 500 100 move
say click "$STATUS" 1103
say wait-shown ExplorerWClass logs 20000
check "\"Open log folder\" shows the logs folder" '[ "$reply" = ok ]'
say post ExplorerWClass logs 0x0010 0 0  # WM_CLOSE
say wait-gone ExplorerWClass logs
shot capture Shell_TrayWnd '*' "$shots/taskbar-synced.png"
shot capture-desktop "$shots/desktop-synced.png"

# ---- Enter closes the status dialog; a second start brings it back ----
say key '#32770' "$STATUS" 0x0D
say wait-gone '#32770' "$STATUS" 5000
check "Enter closes the status dialog (Close is its default button)" '[ "$reply" = ok ]'
lines=$(wc -l <"$log")
timeout 60 "$wine_run" "$exe" >/dev/null 2>&1
rc=$?
say wait-dialog "$STATUS" 15000
check "a second start exits 0 and the first copy opens its status dialog" \
  '[ $rc -eq 0 ] && [ "$reply" = ok ]'
say foreground
same "the status dialog is in front" "$reply" "ok #32770$(esc $'\t')$STATUS"
timeout 60 "$wine_run" "$exe" --background >/dev/null 2>&1
rc=$?
say count-dialogs "$STATUS"
check "a third start while it is open: exit 0, still one status dialog" \
  '[ $rc -eq 0 ] && [ "$reply" = "ok 1" ]'
check "the later copies wrote no log line" '[ "$(wc -l <"$log")" = "$lines" ]'
say click "$STATUS" 2
say wait-gone '#32770' "$STATUS" 5000

# ---- the tray menu ----
say post TessalineTallyConnectorTray '*' 0x8001 0 0x7B  # WM_CONTEXTMENU on the icon
say wait-shown '#32768' '*' 5000
check "the icon's context menu opens" '[ "$reply" = ok ]'
shot capture '#32768' '*' "$shots/tray-menu.png"
shot capture-desktop "$shots/desktop-tray-menu.png"
say key '#32768' '*' 0x1B
say wait-gone '#32768' '*' 5000
check "Esc closes the menu" '[ "$reply" = ok ]'
say post TessalineTallyConnectorTray '*' 0x0111 2004 0
page="${TSL_SANDBOX_API%/api}/web/accounting/tally"
for _ in $(seq 100); do [ -s "$tmp/browser-urls" ] && break; sleep 0.1; done
same "\"Open Tally settings in Tessaline\" opens the page in the browser" \
  "$(cat "$tmp/browser-urls" 2>/dev/null)" "$page"
say post TessalineTallyConnectorTray '*' 0x0111 2006 0
until_reply "error no value" 10 registry "$run_key" "Tessaline Tally Connector"
same "\"Start with Windows\" turns the entry off" "$reply" "error no value"
say post TessalineTallyConnectorTray '*' 0x0111 2006 0
until_reply "ok $(esc "\"$(winpath "$exe")\" --background")" 10 registry "$run_key" \
  "Tessaline Tally Connector"
check "and on again" '[[ $reply == ok* ]]'

# ---- sleep, resume and a network that comes back: a pass soon, not at the next poll ----
heartbeats() { ctl GET /api/heartbeats | json 'len(v)'; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
ctl POST /api/settings '{"pollSeconds":3600}' >/dev/null
for row in "0x0218 0x12 resume from sleep (PBT_APMRESUMEAUTOMATIC)" \
  "0x0218 0x7 resume by the user (PBT_APMRESUMESUSPEND)" "0x8004 0 a network change"; do
  read -r message wparam what <<<"$row"
  before=$(heartbeats) start=$(now_ms)
  say send TessalineTallyConnectorTray '*' "$message" "$wparam" 0
  until [ "$(heartbeats)" -gt "$before" ] || [ $(($(now_ms) - start)) -gt 10000 ]; do sleep 0.2; done
  took=$(($(now_ms) - start))
  check "$what: a pass within 10 s, not an hour later (${took} ms)" \
    '[ "$(heartbeats)" -gt "$before" ] && [ "$took" -le 10000 ]'
done

# ---- a pairing made from the console while the tray runs is taken up at once ----
# The old token is revoked first: a heartbeat recorded from here on carries the new one.
ctl POST /api/revoke '{}' >/dev/null
code=$(ctl POST /api/codes '{}' | json 'v["code"]')
before=$(heartbeats) start=$(now_ms)
timeout 60 "$wine_run" "$exe" --pair "$code" --server "$TSL_SANDBOX_API" >/dev/null 2>&1; rc=$?
until [ "$(heartbeats)" -gt "$before" ] || [ $(($(now_ms) - start)) -gt 15000 ]; do sleep 0.2; done
check "a console --pair beside the tray: exit 0, the tray syncs with the new token at once" \
  '[ $rc -eq 0 ] && [ "$(heartbeats)" -gt "$before" ]'

# ---- Explorer restarts: the new notification area has no icons until "TaskbarCreated" ----
say notify-icon TessalineTallyConnectorTray '*' 1 delete
say notify-icon TessalineTallyConnectorTray '*' 1 exists
gone=$reply
for _ in $(seq 50); do green=$(tray_pixels $GREEN); [ "$green" = 0 ] && break; sleep 0.1; done
check "the shell forgot the icon ($gone, $green green pixels)" \
  '[ "$gone" = "ok 0" ] && [ "$green" = 0 ]'
say broadcast TaskbarCreated
say notify-icon TessalineTallyConnectorTray '*' 1 exists
back=$reply
for _ in $(seq 50); do green=$(tray_pixels $GREEN); [ "${green:-0}" -gt 20 ] 2>/dev/null && break; sleep 0.1; done
check "\"TaskbarCreated\" brings it back in the state's colour ($back, $green green pixels)" \
  '[ "$back" = "ok 1" ] && [ "${green:-0}" -gt 20 ] 2>/dev/null'

# ---- the ways the program ends; each writes "Exiting" once, as its last line ----
exits() { tr -d '\r' <"$log" | grep -c '\[INFO\] Exiting$'; }
ended_once() {  # ended_once WHAT EXITS-BEFORE
  local want=$(($2 + 1))
  check "$1: \"Exiting\" written once, last" \
    '[ "$(exits)" = "$want" ] && [ "$(tail -1 "$log" | tr -d "\r" | cut -c25-)" = "[INFO] Exiting" ]'
}
start_tray() {
  "$wine_run" "$exe" --background >/dev/null 2>&1 &
  conn=$!
  say process TessalineTallyConnectorTray '*' 30000
}
reap() {  # the program has ended, or is ended now
  kill -0 "$conn" 2>/dev/null && kill "$conn"
  wait "$conn" 2>/dev/null
  conn=
}
tally_requests() { ctl GET /tally/config | json 'v["requestCount"]'; }
until_true() {  # until_true CONDITION SECONDS
  local end=$((SECONDS + $2))
  until eval "$1"; do [ $SECONDS -ge $end ] && return 1; sleep 0.1; done
}

say send TessalineTallyConnectorTray '*' 0x0016 0 0  # WM_ENDSESSION, FALSE
say process TessalineTallyConnectorTray '*' 0
check "a session end that was called off leaves it running" '[[ $reply == ok* ]]'

# E&xit while a job's request waits on a slow Tally. Tally answers its probe at once; while
# Tessaline holds the job list back for 5 s, Tally is made to take half a minute.
before=$(tally_requests)
results=$(ctl GET /api/results | json 'len(v)')
ctl POST /api/failures '{"endpoint":"next","status":0,"delayMs":5000}' >/dev/null
ctl POST /api/jobs '{"generate":1}' >/dev/null
say post TessalineTallyConnectorTray '*' 0x0111 2002 0
until_true '[ "$(tally_requests)" -gt "$before" ]' 15
ctl POST /tally/config '{"delayMs":30000}' >/dev/null
until_true '[ "$(tally_requests)" -gt $((before + 1)) ]' 20
check "a job's request is waiting on Tally" \
  '[ "$(tally_requests)" -gt $((before + 1)) ] && [ "$(ctl GET /api/results | json "len(v)")" = "$results" ]'
e=$(exits)
say quit TessalineTallyConnectorTray '*' 0x0111 2007 0 2000
check "E&xit during a 30 s Tally request: gone within 2 s, exit code 0 (${reply#ok })" \
  '[[ $reply =~ ^ok\ 0\ [0-9]+$ ]]'
[[ $reply =~ ^ok\ 0 ]] ||
  echo "  (the worker lets go of a Tally request only when the transport aborts an exchange on stop)"
reap
ended_once "E&xit during a Tally request" "$e"
ctl POST /tally/config '{"delayMs":0}' >/dev/null

# An installer's Restart Manager asks, then waits for the program to end by itself.
start_tray
e=$(exits)
say end-session TessalineTallyConnectorTray '*' 0x1 15000
check "an installer closes it (ENDSESSION_CLOSEAPP): it agrees and ends with 0 (${reply#ok })" \
  '[[ $reply =~ ^ok\ 1\ 0\ [0-9]+$ ]]'
reap
ended_once "closed by an installer" "$e"
# At a log-off Windows may end the process as soon as WM_ENDSESSION returns.
start_tray
e=$(exits)
say end-session TessalineTallyConnectorTray '*' 0x80000000 15000
check "log-off (ENDSESSION_LOGOFF): it agrees (${reply#ok })" '[[ $reply == "ok 1 "* ]]'
reap
ended_once "log-off, the process ended right after the handler" "$e"
start_tray
e=$(exits)
say quit TessalineTallyConnectorTray '*' 0x0010 0 0 15000
check "WM_CLOSE ends it like E&xit, exit code 0 (${reply#ok })" '[[ $reply =~ ^ok\ 0\ [0-9]+$ ]]'
reap
ended_once "WM_CLOSE" "$e"

start_tray
for _ in $(seq 100); do green=$(tray_pixels $GREEN); [ "${green:-0}" -gt 20 ] 2>/dev/null && break; sleep 0.2; done
check "started again, it syncs ($green green pixels)" '[ "${green:-0}" -gt 20 ] 2>/dev/null'

# ---- unpairing from the connection dialog ----
say post TessalineTallyConnectorTray '*' 0x0111 2003 0
say wait-dialog "$CONN"
say wait-hidden tooltips_class32 '*' 15000
check "no tooltip or balloon is shown before unpairing" '[ "$reply" = ok ]'
say click "$CONN" 1004
say msgbox "$CONN"
same "Unpair asks first" "$reply" \
  "ok Tessaline Tally Connector$(esc $'\t')$(esc "Stop syncing this PC with Tessaline?

The pairing is removed from this PC. To pair again you will need a new pairing code from Tessaline.")$(esc $'\t')6,7"
say answer "$CONN" 7
say text "$CONN" 1005
same "No keeps the pairing" "$reply" "ok $(esc "$PAIRED")"
say click "$CONN" 1004
say answer "$CONN" 6
say text "$CONN" 1005; line=$reply
say enabled "$CONN" 1004
same "Yes unpairs" "$line | $reply" "ok $(esc "$NOT_PAIRED") | ok 0"
check "the log says so" 'tr -d "\r" <"$log" | grep -q "\[INFO\] Unpaired by the user$"'
for _ in $(seq 50); do n=$(tray_pixels $RED); [ "${n:-0}" -gt 20 ] 2>/dev/null && break; sleep 0.2; done
check "unpaired again: the tray icon is red ($n pixels)" '[ "${n:-0}" -gt 20 ] 2>/dev/null'
say wait-shown tooltips_class32 '*' 5000
check "losing the pairing shows a balloon" '[ "$reply" = ok ]'
shot capture-desktop "$shots/desktop-unpaired-balloon.png"
say click "$CONN" 2
say wait-gone '#32770' "$CONN"
timeout 60 "$wine_run" "$exe" >/dev/null 2>&1
rc=$?
say wait-dialog "$CONN" 15000
check "unpaired, a second start opens the connection dialog instead" \
  '[ $rc -eq 0 ] && [ "$reply" = ok ]'

# ---- Exit from the icon's menu, opened with the mouse ----
# A real right-click: the shell sends the icon's owner WM_RBUTTONUP and then WM_CONTEXTMENU.
say locate-colour Shell_TrayWnd '*' $RED
xy=${reply#ok }
# shellcheck disable=SC2086
say mouse $xy right
say wait-shown '#32768' '*' 5000
sleep 0.5
say windows
menus=$(grep -o '#32768:' <<<"$reply" | wc -l)
check "a right-click on the icon opens its menu once ($menus open)" '[ "$menus" = 1 ]'
shot capture-desktop "$shots/desktop-right-click-menu.png"
say key '#32768' '*' 0x58  # X: the mnemonic of "E&xit"
for _ in $(seq 150); do kill -0 "$conn" 2>/dev/null || break; sleep 0.1; done
kill -0 "$conn" 2>/dev/null && kill "$conn"
wait "$conn"
rc=$?
conn=
check "E&xit ends the program with exit code 0 ($rc)" '[ $rc -eq 0 ]'
same "\"Exiting\" is the last log line" "$(tail -1 "$log" | tr -d '\r' | cut -c25-)" "[INFO] Exiting"
say wait-gone TessalineTallyConnectorTray '*' 5000
check "the tray window is gone" '[ "$reply" = ok ]'

# ---- at 144 DPI (150 %): dialogs scaled with their font, nothing clipped, larger icons ----
# (Wine's notification area draws every icon into a 16-pixel slot whatever the DPI, so the
# icons' size shows in a dialog's caption.)
eval "exec ${DRIVER[1]}>&-"
wait "$driver_pid" 2>/dev/null
driver_pid=
timeout 60 wineserver -w  # a new session reads the new DPI
set_dpi 144
start_driver
say wait-shown Shell_TrayWnd '*' 30000
"$wine_run" "$exe" >/dev/null 2>&1 &
conn=$!
say wait-dialog "$CONN" 30000
check "at 144 DPI the connection dialog opens" '[ "$reply" = ok ]'
layout_matches "$CONN" "${CONN_LAYOUT[@]}"
texts_fit "$CONN" 12
say count-colour '#32770' "$CONN" $GREEN
check "the icons are drawn for 144 DPI: ${reply#ok } green pixels in the caption, $caption_at_96 at 96" \
  '[[ $reply =~ ^ok\ [0-9]+$ ]] && [ "${reply#ok }" -gt $((caption_at_96 * 2)) ]'
shot capture '#32770' "$CONN" "$shots/connection-unpaired-144dpi.png"
say post TessalineTallyConnectorTray '*' 0x0111 2001 0
say wait-dialog "$STATUS"
layout_matches "$STATUS" "${STATUS_LAYOUT[@]}"
texts_fit "$STATUS" 3
shot capture '#32770' "$STATUS" "$shots/status-144dpi.png"
shot capture-desktop "$shots/desktop-unpaired-144dpi.png"
say quit TessalineTallyConnectorTray '*' 0x0111 2007 0 15000
check "E&xit at 144 DPI: exit code 0" '[[ $reply =~ ^ok\ 0\ [0-9]+$ ]]'
reap

echo "screenshots: $shots"
exit $fail
