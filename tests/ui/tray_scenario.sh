#!/usr/bin/env bash
# The Windows tray program used the way a person would, driven by ui_driver.exe: under Wine in a
# virtual desktop with a task bar on a private X server, next to a fresh sandbox; through the
# PC's day: resume, a network that comes back, Explorer restarting, the end of the session, an
# installer closing it, 96 and 144 DPI. Screenshots of the X display go to SHOTS_DIR.
#   tray_scenario.sh EXE DRIVER WINE_RUN WINEPREFIX SANDBOX_PROGRAM SHOTS_DIR  (ctest -R e2e_tray_ui)
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
source "$here/../e2e/common.sh"  # ctl, json, wait_for, wine_users, start_x
run_key='Software\Microsoft\Windows\CurrentVersion\Run' run_key_path="HKEY_CURRENT_USER\\$run_key"
tmp=$(mktemp -d) xpid= conn= driver_pid= reply= users=
check() {  # check WHAT CONDITION; a failure also prints what the screen shows
  eval "$2" && echo "ok: $1" && return 0
  echo "FAIL: $1${reply:+ (last driver answer: $reply)}"
  fail=1
  local kept=$reply
  [ -n "${DRIVER[1]:-}" ] && say windows && echo "  windows: ${reply#ok }" && reply=$kept
  return 1
}
same() {  # same WHAT ACTUAL EXPECTED
  local got=$2 want=$3
  check "$1" '[ "$got" = "$want" ]' || printf '  got:      %s\n  expected: %s\n' "$got" "$want"
}
expect() { say "${@:3}" && same "$1" "$reply" "$2"; }  # expect WHAT REPLY COMMAND...
until_true() { wait_for "$1" $(($2 * 10)); }  # until_true CONDITION SECONDS (at least)
soon() { until_true "$2" "${3:-10}"; check "$1" "$2"; }  # soon WHAT CONDITION [SECONDS]
esc() { local s=${1//$'\r'/\\r}; s=${s//$'\n'/\\n}; printf '%s' "${s//$'\t'/\\t}"; }  # as the driver shows it
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
reg_import() {  # reg_import LINE...: these lines of a .reg file imported into the prefix
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' "$@" >"$tmp/in.reg"
  "$wine_run" regedit /s "$(winpath "$tmp/in.reg")" >/dev/null 2>&1
}
start_driver() {
  coproc DRIVER { "$wine_run" "$driver" 2>/dev/null; }
  driver_pid=$DRIVER_PID
  expect "Wine shows a desktop with a task bar" ok wait shown Shell_TrayWnd '*' 30000
}
stop_driver() {  # the driver ends at the end of its input; then the Wine session
  [ -n "$driver_pid" ] && eval "exec ${DRIVER[1]}>&-" && wait "$driver_pid" 2>/dev/null
  driver_pid=
  timeout 60 wineserver -w
}
cleanup() {
  [ -n "$conn" ] && kill "$conn" 2>/dev/null
  stop_driver
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  # Leave the shared prefix as other tests expect it: no virtual desktop, no Run entry, 96 DPI.
  TSL_WINE_DISPLAY= reg_import '[HKEY_CURRENT_USER\Control Panel\Desktop]' \
    '"LogPixels"=-' '' '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"=-' \
    '' '[-HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '' "[$run_key_path]" \
    '"Tessaline Tally Connector"=-' '' '[-HKEY_CURRENT_USER\Software\Wine\WineBrowser]'
  timeout 60 wineserver -w
  [ -n "$users" ] && rm -rf "$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline"
  rm -rf "$tmp"
}
trap cleanup EXIT

# ---- the stage: a virtual desktop with a task bar on a private X server ----
users=$(wine_users "$wine_run" "$prefix")
rm -rf "$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline"
ini="$users/AppData/Roaming/Tessaline/Tally Connector/connector.ini"
log="$users/AppData/Local/Tessaline/Tally Connector/logs/connector.log"
set_dpi() { reg_import '[HKEY_CURRENT_USER\Control Panel\Desktop]' "$(printf '"LogPixels"=dword:%08x' "$1")"; }
# The web browser that Wine starts for a web address: it only notes the address.
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s/browser-urls"\n' "$tmp" >"$tmp/browser.sh"
chmod +x "$tmp/browser.sh"
reg_import '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\Default]' '"EnableShell"=dword:00000001' \
  '' "[$run_key_path]" '"Tessaline Tally Connector"=-' '' \
  '[HKEY_CURRENT_USER\Software\Wine\WineBrowser]' "\"Browsers\"=\"$tmp/browser.sh\""
set_dpi 96
start_x "$tmp" -screen 0 1024x768x24 || { echo "FAIL: Xvfb did not start"; exit 1; }
rm -rf "$shots" && mkdir -p "$shots"

say() {  # say COMMAND ARGS...: one driver command, its answer in $reply
  { printf '=%s\0' "$@" && printf '\0'; } >&"${DRIVER[1]}"
  IFS= read -r -t 90 reply <&"${DRIVER[0]}" || reply="error: the driver did not answer"
  reply=${reply%$'\r'}
}
shot() { import -display "$TSL_WINE_DISPLAY" -window root "$shots/$1.png"; }  # the X display
RED="207 34 46" GREEN="46 160 67"  # the icons' colours; in the task bar only the tray has them
# pixels CLASS TITLE "R G B" [at]: how many pixels of the frontmost such window the screen shows
# in that colour; with "at", the middle of them on the screen (where a person would point)
pixels() {
  say rect "$1" "$2"
  read -r x y w h <<<"${reply#ok }"
  import -display "$TSL_WINE_DISPLAY" -window root -crop "${w}x$h+$x+$y" -depth 8 txt:- 2>/dev/null |
    awk -F'[,:() ]+' -v c="$3" -v x="$x" -v y="$y" -v at="${4:-}" 'BEGIN { split(c, k, " ") }
      $3 == k[1] && $4 == k[2] && $5 == k[3] { n++; sx += $1; sy += $2 }
      END { print !at ? n + 0 : n ? x + int(sx / n) " " y + int(sy / n) : "" }'
}
icon_is() {  # icon_is WHAT COLOUR [COLOUR-NOT-SHOWN]: within 20 s, the tray icon has that colour
  local colour=$2 other=${3:-} n= m=0
  until_true 'n=$(pixels Shell_TrayWnd "*" "$colour"); [ -z "$other" ] || m=$(pixels Shell_TrayWnd "*" "$other")
    [ "$n" -gt 20 ] 2>/dev/null && [ "$m" = 0 ]' 20
  check "$1: the tray icon is ${3:+only }that colour ($n pixels${3:+, $m of the other})" \
    '[ "$n" -gt 20 ] 2>/dev/null && [ "$m" = 0 ]'
}
dialog_ok() {  # dialog_ok TITLE WHEN: every control of the program's template there, none clipped
  say check-dialog "$1"
  check "\"$1\" $2: every control there, no text clipped" '[[ $reply == "ok "*" controls" ]]'
}
box_says() {  # box_says WHAT TEXT BUTTONS [ANSWER]: the message box over the connection dialog
  say msgbox "$CONN" ${4:+"$4"}
  same "$1" "$reply" "ok $STATUS\\t$(esc "$2")\\t$3"
}
launch() { "$wine_run" "$exe" "$@" >/dev/null 2>&1 & conn=$!; }  # launch ARGS...: started aside
TRAY=(TessalineTallyConnectorTray '*')  # the program's hidden window in the driver's commands
menu() { say post "${TRAY[@]}" 0x0111 "$1" 0; }  # menu COMMAND-ID: a tray menu command chosen
start_driver

CONN="Tessaline Tally Connector - Connection"
STATUS="Tessaline Tally Connector"  # also the title of every message box
NOT_PAIRED='Not paired. In Tessaline open Accounting > Tally Sync, click "Generate pairing code" and enter it here.'
ORG="Süd Öl Traders" COMPANY="Kaveri Exports"
PAIRED="Paired with $ORG. To move to another PC, generate a new code in Tessaline and pair that PC."
RUN_ENTRY="\"$(winpath "$exe")\" --background"
run_entry() { "$wine_run" reg query "HKCU\\$run_key" /v "Tessaline Tally Connector" 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }

# ---- first start, not paired ----
launch
expect "first start unpaired opens the connection dialog" ok wait dialog '#32770' "$CONN" 30000
expect "not-paired status line, Tally's host and port as by default" \
  "ok $NOT_PAIRED\\tlocalhost\\t9000" text "$CONN" 1005 1006 1007
expect "\"Unpair this PC\" disabled" "ok 0" enabled "$CONN" 1004
expect "the pairing code takes at most 12 characters" "ok 12" send-item "$CONN" 1002 0xD5 0 0
dialog_ok "$CONN" "at 96 DPI, unpaired"
caption_at_96=$(pixels '#32770' "$CONN" "$GREEN")
check "the dialog's caption shows the green icon" '[ "$caption_at_96" -gt 0 ] 2>/dev/null'
icon_is "unpaired" "$RED"
expect "no balloon for the first \"not connected\" after start" \
  "error not shown: class tooltips_class32 titled \"*\"" wait shown tooltips_class32 '*' 1000
shot connection-unpaired-96dpi

# ---- refused pairings: nothing reaches any server ----
# The address rule itself: tests/config, tests/tray and e2e_security_sandbox.
refused=http://127.0.0.2:9/tessaline/api
say set-text "$CONN" 1001 "$refused" 1002 "ABCD-2345"
say click "$CONN" 1003
box_says "pairing over plain http with another host is refused" "The server address must start with https://" 1 1
expect "after the refusal the input stays and the status line is unchanged" \
  "ok $refused\\t$NOT_PAIRED" text "$CONN" 1001 1005
say set-text "$CONN" 1001 "$TSL_SANDBOX_API" 1002 "   "
say click "$CONN" 1003
box_says "a blank code is refused" "Enter the pairing code shown in Tessaline." 1 1
check "no pairing request reached Tessaline" '[ "$(ctl GET /api/requests | json "len(v)")" = 0 ]'

# ---- pairing with the sandbox's code ----
say set-text "$CONN" 1002 "$TSL_SANDBOX_PAIRING_CODE" 1006 127.0.0.1 1007 "$TSL_SANDBOX_TALLY_PORT"
say click "$CONN" 1003
box_says "pairing succeeds with the organisation's name" "This PC is now connected to Tessaline ($ORG).

Keep Tally open with your company loaded. Choose the company and switch sync on in Tessaline under Accounting > Tally Sync." 1
shot paired-message
say msgbox "$CONN" 1
expect "paired status line, the code field emptied" "ok $PAIRED\\t" text "$CONN" 1005 1002
expect "\"Unpair this PC\" enabled" "ok 1" enabled "$CONN" 1004
check "the log says whom it paired with" \
  'tr -d "\r" <"$log" | grep -q "\[INFO\] Paired with Tessaline ($ORG)$"'
same "pairing turns on starting with Windows" "$(run_entry)" "$RUN_ENTRY"

# ---- Tally test ----
tally_test() {  # tally_test WHAT RESULT: the result line of "Test Tally"
  local result="ok $2"
  say click "$CONN" 1008
  until_true 'say text "$CONN" 1009; [ "$reply" = "$result" ]' 15
  same "$1" "$reply" "$result"
}
tally_test "Test Tally against the sandbox's Tally" "OK: TallyPrime Server is Running"
if [ "$TSL_UI_NETWORK" = loopback ] || ! (exec 3<>/dev/tcp/127.0.0.1/9000) 2>/dev/null; then
  say set-text "$CONN" 1006 "" 1007 ""
  tally_test "Test Tally with empty host and port on a closed port" "Tally is not running, or its XML server is off (expected at http://localhost:9000/). In Tally: F1 (Help) > Settings > Connectivity > Client/Server configuration: TallyPrime acts as Server/Both, port 9000."
  dialog_ok "$CONN" "with the help for a closed Tally port"  # readable up to its port number
else
  echo "skipped: something listens on port 9000 here"
fi
say set-text "$CONN" 1006 127.0.0.1

# ---- saving ----
before=$(od -c "$ini")
for port in 0 65536 ""; do
  say set-text "$CONN" 1007 "$port"
  say click "$CONN" 1
  box_says "Save with the port \"$port\" is refused" "Enter a valid Tally port (usually 9000)." 1 1
done
say wait dialog '#32770' "$CONN" 0
check "after a refused save the dialog stays open and nothing is saved" \
  '[ "$reply" = ok ] && [ "$(od -c "$ini")" = "$before" ]'
say set-text "$CONN" 1007 "$TSL_SANDBOX_TALLY_PORT"
say click "$CONN" 1
expect "Save with a good port closes the dialog" ok wait gone '#32770' "$CONN"

# ---- syncing, the status dialog and the green icon ----
ctl POST /api/jobs '{"generate":2}' >/dev/null
menu 2001
expect "the Status command opens the status dialog" ok wait dialog '#32770' "$STATUS"
say click "$STATUS" 1102
machine=$("$wine_run" cmd /c echo %COMPUTERNAME% | tr -d '\r')
until_true 'say text "$STATUS" 1101; [[ $reply == *"Up to date"*"Jobs this session:  2"* ]]' 30
stamp=$(sed -n 's/.*Last completed sync:  \([^\\]*\)\\r.*/\1/p' <<<"$reply")
check "the last sync time reads DD-MM-YYYY hh:mm ($stamp)" \
  '[[ $stamp =~ ^[0-3][0-9]-[01][0-9]-20[0-9][0-9]\ [0-2][0-9]:[0-5][0-9]$ ]]'
same "the status dialog after \"Sync now\"" "$reply" "ok $(esc "$(printf '%s\r\n' \
  "Status:  Up to date" "         Synced with $COMPANY" "" "Tessaline:  $TSL_SANDBOX_API" \
  "Organisation:  $ORG" "Tally company:  $COMPANY" \
  "Tally:  TallyPrime Server is Running  [127.0.0.1:$TSL_SANDBOX_TALLY_PORT]" "" \
  "Last completed sync:  $stamp" "Jobs this session:  2" \
  "Last job:  import: Job job-2: 1 of 1 requests carried out" "" "Version $TSL_VERSION on $machine")")\\n"
dialog_ok "$STATUS" "at 96 DPI"
icon_is "synced" "$GREEN" "$RED"
say mouse $(pixels Shell_TrayWnd '*' "$GREEN" at)
expect "pointing at the icon shows its tooltip" ok wait shown tooltips_class32 '*' 5000
shot status-tray-tooltip-96dpi
say mouse 500 100
say click "$STATUS" 1103
expect "\"Open log folder\" shows the logs folder" ok wait shown ExplorerWClass logs 20000
say post ExplorerWClass logs 0x0010 0 0  # WM_CLOSE
say wait gone ExplorerWClass logs

# ---- the diagnostics report: on its own thread while Tessaline takes 8 s, once at a time ----
asked() { ctl GET /api/requests | count 'x["path"].endswith("/heartbeat")'; }  # heartbeats begun
ctl POST /api/failures '{"endpoint":"heartbeat","status":0,"delayMs":8000,"count":1}' >/dev/null
menu 2008
menu 2008
expect "the tray answers while the report waits on Tessaline" "ok 0" send "${TRAY[@]}" 0 0 0
expect "\"Save diagnostics report\" then shows it in the logs folder" ok \
  wait shown ExplorerWClass logs 30000
shot report-in-folder
report=$(ls "$(dirname "$log")"/diagnostics-*.txt)
check "one report, holding the check's lines ($report)" \
  '[ "$(grep -c "Saving a diagnostics report" "$log")" = 1 ] && [ -f "$report" ] &&
   tr -d "\r" <"$report" | grep -q "^ok   Heartbeat: accepted in"'
say post ExplorerWClass logs 0x0010 0 0
say wait gone ExplorerWClass logs

# ---- Enter closes the status dialog; a second start brings it back ----
say key '#32770' "$STATUS" 0x0D
expect "Enter closes the status dialog (Close is its default button)" ok \
  wait gone '#32770' "$STATUS" 5000
again() {  # again WHAT DIALOG ARGS...: a second copy exits 0, the first shows its one DIALOG
  timeout 60 "$wine_run" "$exe" "${@:3}" >/dev/null 2>&1
  local rc=$?
  say wait dialog '#32770' "$2" 15000
  check "$1" '[ $rc -eq 0 ] && [ "$reply" = ok ]'
}
lines=$(wc -l <"$log")
again "a second start exits 0 and the first copy opens its status dialog" "$STATUS"
expect "the status dialog is in front" "ok #32770\\t$STATUS" foreground
again "a third start while it is open: exit 0, still one status dialog" "$STATUS" --background
check "the later copies wrote no log line" '[ "$(wc -l <"$log")" = "$lines" ]'
say click "$STATUS" 2
say wait gone '#32770' "$STATUS" 5000
# A report that cannot be saved (a folder holds every name it could take in the next 30 s) says
# why, in a message box of its own.
taken=$(for s in $(seq 0 30); do date -d "+$s sec" "+$(dirname "$log")/diagnostics-%Y%m%d-%H%M%S.txt"; done)
xargs -d '\n' mkdir <<<"$taken"
menu 2008
say wait dialog '#32770' "$STATUS" 30000
say text "$STATUS" 0xFFFF
check "a report that cannot be saved says why ($reply)" \
  '[[ $reply == "ok The diagnostics report could not be saved: Could not replace "*diagnostics-*.txt:\ ?* ]]'
say click "$STATUS" 1
say wait gone '#32770' "$STATUS" 5000
xargs -d '\n' rmdir <<<"$taken"

# ---- the tray menu ----
menu 2004
page="${TSL_SANDBOX_API%/api}/web/accounting/tally"
soon "\"Open Tally settings in Tessaline\" opens $page" \
  '[ "$(cat "$tmp/browser-urls" 2>/dev/null)" = "$page" ]'
menu 2006
soon "\"Start with Windows\" turns the entry off" '[ -z "$(run_entry)" ]'
menu 2006
soon "and on again" '[ "$(run_entry)" = "$RUN_ENTRY" ]'

# ---- sleep, resume and a network that comes back: a pass soon, not at the next poll ----
heartbeats() { ctl GET /api/heartbeats | json 'len(v)'; }
ctl POST /api/settings '{"pollSeconds":3600}' >/dev/null
for row in "0x0218 0x12 resume from sleep (PBT_APMRESUMEAUTOMATIC)" \
  "0x0218 0x7 resume by the user (PBT_APMRESUMESUSPEND)" "0x8004 0 a network change"; do
  read -r message wparam what <<<"$row"
  before=$(heartbeats)
  say send "${TRAY[@]}" "$message" "$wparam" 0
  soon "$what: a pass within 10 s, not an hour later" '[ "$(heartbeats)" -gt "$before" ]'
done

# ---- a pairing made from the console while the tray runs is taken up at once ----
# The old token is revoked first: a heartbeat recorded from here on carries the new one.
ctl POST /api/revoke '{}' >/dev/null
code=$(ctl POST /api/codes '{}' | json 'v["code"]')
before=$(heartbeats)
timeout 60 "$wine_run" "$exe" --pair "$code" --server "$TSL_SANDBOX_API" >/dev/null 2>&1
rc=$?
soon "a console --pair beside the tray: exit 0, the tray syncs with the new token at once" \
  '[ $rc -eq 0 ] && [ "$(heartbeats)" -gt "$before" ]' 15

# ---- Explorer restarts: the new notification area has no icons until "TaskbarCreated" ----
say notify-icon "${TRAY[@]}" 1 delete
expect "the shell forgot the icon" "ok 0" notify-icon "${TRAY[@]}" 1 exists
say broadcast TaskbarCreated
expect "\"TaskbarCreated\" brings the icon back" "ok 1" notify-icon "${TRAY[@]}" 1 exists
icon_is "back after \"TaskbarCreated\", in the state's colour" "$GREEN"

# ---- the ways the program ends; each writes "Exiting" once, as its last line ----
exits() { tr -d '\r' <"$log" | grep -c '\[INFO\] Exiting$'; }
last_line() { tail -1 "$log" | tr -d '\r' | cut -c25-; }
start_tray() {  # started in the background and running: its worker has begun
  local started=$(grep -c "Sync loop started" "$log")
  launch --background
  until_true '[ "$(grep -c "Sync loop started" "$log")" -gt "$started" ]' 30
}
reap() { kill "$conn" 2>/dev/null; wait "$conn" 2>/dev/null; rc=$? conn=; }  # ended, or now; rc
ends() {  # ends WHAT REPLY-PATTERN DRIVER-COMMAND...
  local what=$1 pattern=$2 e=$(exits)
  shift 2
  say "$@"
  check "$what (${reply#ok })" '[[ $reply =~ $pattern ]]'
  reap
  check "$what: \"Exiting\" written once, last ($(exits) times; last line $(last_line))" \
    '[ "$(exits)" = $((e + 1)) ] && [ "$(last_line)" = "[INFO] Exiting" ]'
}
tally_requests() { ctl GET /tally/config | json 'v["requestCount"]'; }

say send "${TRAY[@]}" 0x0016 0 0  # WM_ENDSESSION, FALSE
expect "a session end that was called off leaves it running" ok wait exists "${TRAY[@]}" 0

# E&xit while a job's request waits on a slow Tally. Tally answers its probe at once; while
# Tessaline holds the job list back for 5 s, Tally is made to take half a minute.
before=$(tally_requests)
results=$(ctl GET /api/results | json 'len(v)')
ctl POST /api/failures '{"endpoint":"next","status":0,"delayMs":5000}' >/dev/null
ctl POST /api/jobs '{"generate":1}' >/dev/null
menu 2002
until_true '[ "$(tally_requests)" -gt "$before" ]' 15
ctl POST /tally/config '{"delayMs":30000}' >/dev/null
until_true '[ "$(tally_requests)" -gt $((before + 1)) ]' 20
check "a job's request is waiting on Tally" \
  '[ "$(tally_requests)" -gt $((before + 1)) ] && [ "$(ctl GET /api/results | json "len(v)")" = "$results" ]'
ends "E&xit during a 30 s Tally request: gone within 2 s, exit code 0" '^ok 0 [0-9]+$' \
  post "${TRAY[@]}" 0x0111 2007 0 2000
ctl POST /tally/config '{"delayMs":0}' >/dev/null
# An installer's Restart Manager asks, then waits for the program to end by itself.
start_tray
ends "an installer closes it (ENDSESSION_CLOSEAPP): it agrees and ends with 0" '^ok 1 0 [0-9]+$' \
  end-session "${TRAY[@]}" 0x1 15000
# At a log-off Windows may end the process as soon as WM_ENDSESSION returns.
start_tray
ends "log-off (ENDSESSION_LOGOFF): it agrees" '^ok 1 ' \
  end-session "${TRAY[@]}" 0x80000000 15000
start_tray
ends "WM_CLOSE ends it like E&xit, exit code 0" '^ok 0 [0-9]+$' \
  post "${TRAY[@]}" 0x0010 0 0 15000
start_tray
icon_is "started again, it syncs" "$GREEN"
# E&xit while a report waits half a minute on Tessaline's answer to its heartbeat.
before=$(asked)
ctl POST /api/failures '{"endpoint":"heartbeat","status":0,"delayMs":30000,"count":1}' >/dev/null
menu 2008
until_true '[ "$(asked)" -gt "$before" ]' 15
ends "E&xit while a report waits 30 s on Tessaline: gone within 3 s" '^ok 0 [0-9]+$' \
  post "${TRAY[@]}" 0x0111 2007 0 3000
start_tray
icon_is "started again, it syncs" "$GREEN"

# ---- unpairing from the connection dialog ----
menu 2003
say wait dialog '#32770' "$CONN"
expect "no tooltip or balloon is shown before unpairing" ok wait hidden tooltips_class32 '*' 15000
say click "$CONN" 1004
box_says "Unpair asks first" "Stop syncing this PC with Tessaline?

The pairing is removed from this PC. To pair again you will need a new pairing code from Tessaline." 6,7 7
expect "No keeps the pairing" "ok $PAIRED" text "$CONN" 1005
say click "$CONN" 1004
say msgbox "$CONN" 6
expect "Yes unpairs" "ok $NOT_PAIRED" text "$CONN" 1005
expect "\"Unpair this PC\" disabled again" "ok 0" enabled "$CONN" 1004
check "the log says so" 'tr -d "\r" <"$log" | grep -q "\[INFO\] Unpaired by the user$"'
icon_is "unpaired again" "$RED"
expect "losing the pairing shows a balloon" ok wait shown tooltips_class32 '*' 5000
shot unpaired-balloon
say click "$CONN" 2
say wait gone '#32770' "$CONN"
again "unpaired, a second start opens the connection dialog instead" "$CONN"

# ---- the icon's menu, opened with the mouse: Esc closes it, E&xit ends the program ----
# A real right-click: the shell sends the icon's owner WM_RBUTTONUP and then WM_CONTEXTMENU.
right_click() {
  say mouse $(pixels Shell_TrayWnd '*' "$RED" at) right
  say wait shown '#32768' '*' 5000
  sleep 0.5
  say windows
  menus=$(grep -o '#32768:' <<<"$reply" | wc -l)
  check "a right-click on the icon opens its menu once ($menus open)" '[ "$menus" = 1 ]'
}
right_click
shot right-click-menu
say key '#32768' '*' 0x1B
expect "Esc closes the menu" ok wait gone '#32768' '*' 5000
right_click
say key '#32768' '*' 0x58  # X: the mnemonic of "E&xit"
until_true '! kill -0 "$conn" 2>/dev/null' 15
reap
check "E&xit ends the program with exit code 0 ($rc)" '[ $rc -eq 0 ]'
same "\"Exiting\" is the last log line" "$(last_line)" "[INFO] Exiting"
expect "the tray window is gone" ok wait gone "${TRAY[@]}" 5000

# ---- at 144 DPI (150 %): dialogs scaled with their font, nothing clipped, larger icons ----
# (Wine's notification area draws every icon into a 16-pixel slot whatever the DPI, so the
# icons' size shows in a dialog's caption.)
stop_driver  # a new session reads the new DPI
set_dpi 144
start_driver
launch
expect "at 144 DPI the connection dialog opens" ok wait dialog '#32770' "$CONN" 30000
dialog_ok "$CONN" "at 144 DPI"
shot connection-unpaired-144dpi
caption=$(pixels '#32770' "$CONN" "$GREEN")
check "the icons are drawn for 144 DPI: $caption green pixels in the caption, $caption_at_96 at 96" \
  '[ "$caption" -gt $((caption_at_96 * 2)) ] 2>/dev/null'
menu 2001
say wait dialog '#32770' "$STATUS"
dialog_ok "$STATUS" "at 144 DPI"
shot status-144dpi
ends "E&xit at 144 DPI: exit code 0" '^ok 0 [0-9]+$' \
  post "${TRAY[@]}" 0x0111 2007 0 15000

echo "screenshots: $shots"
exit $fail
