#!/usr/bin/env bash
# --check as a process against the sandbox (started by with-sandbox.sh), in the states a support
# desk meets: not paired, paired and healthy, Tally down, the server down, the token revoked, proxy 407.
#   check.sh linux EXE
#   check.sh windows EXE WINE_RUN WINEPREFIX
# Each time: the exit code, the mark and sentence of the lines that matter, and that nothing
# changed (connector.ini byte for byte, no job fetched, one log line).
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
log="$state/logs/connector.log"
ini="$folder/connector.ini"
lines() { [ -f "$log" ] && tr -d '\r' <"$log" | wc -l || echo 0; }
jobs() { ctl GET /api/state | json 'v["queuedJobs"], v["handedOutJobs"]'; }
# check_run RC [SWITCH]: runs --check into $out, then checks the exit code, that connector.ini
# and the jobs stayed as they were and that the log gained one line.
check_run() {
  local want=$1 before logged=$(lines) queued=$(jobs)
  before=$(od -c "$ini" 2>/dev/null)
  out=$(run --check "${@:2}" 2>&1); rc=$?
  out=$(tr -d '\r' <<<"$out")
  check "$what: exit $want" '[ $rc -eq $want ]'
  [ $rc -eq $want ] || printf '%s\n' "$out"
  check "$what: nothing changed" \
    '[ "$(od -c "$ini" 2>/dev/null)" = "$before" ] && [ "$(jobs)" = "$queued" ] &&
     [ "$(lines)" -eq $((logged + 1)) ]'
}
has() { grep -qE "^$1" <<<"$out"; }
# point_at URL: connector.ini names another server, the token line kept.
point_at() {  # the file is UTF-16 as the program writes it, or UTF-8 as this writes it
  printf '[server]\r\nurl=%s\r\n[auth]\r\n%s\r\n' "$1" "$(tr -d '\0\r' <"$ini" | grep -a '^token=')" >"$ini"
}

what="not paired"
check_run 1
check "$what: the settings and the token are missing, the heartbeat waits" \
  'has "FAIL Settings file: not found at .* - Pair this PC" && has "FAIL Paired: no token is stored - Pair this PC" &&
   has "warn Heartbeat: not sent" && [ ! -e "$ini" ]'
check "$what: no call to Tessaline" '[ "$(ctl GET /api/requests)" = "[]" ]'

paired
token=$(ctl GET /api/state | json 'v["tokens"][0]')
ctl POST /api/jobs '{"generate":1}' >/dev/null
what="paired and healthy"
check_run 0
check "$what: twelve lines, all ok, the proxy direct, the clocks agreeing" \
  '[ "$(grep -c "^ok   " <<<"$out")" = 12 ] && has "ok   Proxy: direct$" && has "ok   Clock: this PC.s clock (agrees|is [0-9]+ s)"'
check "$what: each step of the connection timed, before the heartbeat" \
  'has "ok   Connection: 127.0.0.1:[0-9]+ resolved in [0-9]+ ms, connected in [0-9]+ ms; plain HTTP \(this PC only\)$" &&
   grep -A1 "^ok   Connection" <<<"$out" | grep -q "^ok   Heartbeat"'
check "$what: the heartbeat names the company, Tally its answer" \
  'has "ok   Heartbeat: accepted in [0-9]+ ms; organisation Sandbox Organisation; company Sandbox Traders; sync is on$" &&
   has "ok   Tally: 127.0.0.1:$TSL_SANDBOX_TALLY_PORT answers in [0-9]+ ms: TallyPrime Server is Running$" &&
   has "ok   Company: Sandbox Traders is open in Tally$"'
check "$what: the token is in no output, the queued job was not fetched" \
  '! grep -qF "$token" <<<"$out" && [ "$(ctl GET /api/results)" = "[]" ]'

# The diagnostics report: beside the log, the lines, the settings and the log's end, no secret.
what="report"
seq -f 'filler %g' 600 >>"$log"
check_run 0 --report
report="$(dirname "$log")/$(ls "$(dirname "$log")" | grep -E '^diagnostics-[0-9]{8}-[0-9]{6}\.txt$')"
text=$(tr -d '\r' <"$report" 2>/dev/null)
blob=$( (iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || cat "$ini") | tr -d '\r' | sed -n 's/^token=//p')
check "$what: saved in the log folder, its path printed" \
  'has "Diagnostics report saved: .*diagnostics-[0-9-]*\.txt$" && [ -s "$report" ]'
check "$what: version, system, the check's lines, settings and the log's last 500 lines" \
  'grep -qx "Tessaline Tally Connector $TSL_VERSION, diagnostics report of .*" <<<"$text" &&
   grep -q "^System: ." <<<"$text" && grep -qx "ok   Company: Sandbox Traders is open in Tally" <<<"$text" &&
   grep -qx "  server: $TSL_SANDBOX_API" <<<"$text" && grep -qx "  token: stored" <<<"$text" &&
   [ "$(tail -1 <<<"$text")" = "$(tr -d "\r" <"$log" | tail -1)" ] &&
   [ "$(grep -c ^filler <<<"$text")" = "$(tr -d "\r" <"$log" | tail -n 500 | grep -c ^filler)" ]'
check "$what: neither the token nor its protected form" \
  '[ ${#blob} -gt 20 ] && ! grep -qF "$token" "$report" && ! grep -qF "$blob" "$report" &&
   ! grep -qF "${blob:0:16}" "$report"'
rm -f "$report"

# A log that cannot be written (a folder in its place) is named, with what to do.
mv "$log" "$log.kept" && mkdir "$log"
out=$(run --check 2>&1 | tr -d '\r')
check "log unwritable: said, with what to do" 'has "FAIL Log: cannot write into .* - Free some disk space"'
rmdir "$log" && mv "$log.kept" "$log"

# Turned off by the user (Task Manager's Startup tab; the desktop's switch on Linux): the entry is
# there but skipped at logon; pairing again turns it on for real.
if [ "$1" = windows ]; then
  approved='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
  "$wine_run" reg add "$approved" /v "Tessaline Tally Connector" /t REG_BINARY \
    /d 030000000000000000000000 /f >/dev/null 2>&1
  want="turned off in Task Manager.s Startup tab - Turn it on there"
else
  printf 'Hidden=true\n' >>"$home/.config/autostart/Tessaline Tally Connector.desktop"
  want="the desktop.s autostart entry is turned off .* - .* systemctl --user enable --now tessaline-tally-connector$"
fi
what="start at logon turned off by the user"
check_run 0
check "$what: said so, with where to turn it on" 'has "warn Start at logon: $want"'
paired "" "$(ctl POST /api/codes '{}' | json 'v["code"]')"
out=$(run --check 2>&1 | tr -d '\r')
check "$what: on again after pairing" 'has "ok   Start at logon: on"'
token=$(ctl GET /api/state | json 'v["tokens"][-1]')

# Tally runs, but not with the company Tessaline syncs with.
for open in '' 'Rao & Sons'; do
  ctl POST /tally/config "{\"company\":\"$open\"}" >/dev/null
  what="Tally with company \"$open\" open"
  check_run 1
  if [ -z "$open" ]; then want="Tally has no company open"; else want="Tessaline syncs with Sandbox Traders; Tally has open: $open"; fi
  check "$what: which company to open" 'has "FAIL Company: $want - Open the company Sandbox Traders in TallyPrime\.$"'
done
ctl POST /tally/config '{"company":"Sandbox Traders","running":false}' >/dev/null
what="Tally down"
check_run 1
check "$what: where to turn on Tally's XML server, with the port to set" \
  'has "FAIL Tally: Tally is not running, .* - Start TallyPrime .* port $TSL_SANDBOX_TALLY_PORT\.$"'
ctl POST /tally/config '{"running":true}' >/dev/null

ctl POST /api/settings '{"clockOffsetSeconds":-600}' >/dev/null
what="clock off"
check_run 0
check "$what: how far, and to set it right" \
  'has "warn Clock: this PC.s clock is 10 min ahead of Tessaline.s - Set the clock right"'
ctl POST /api/settings '{"clockOffsetSeconds":0}' >/dev/null

ctl POST /api/failures '{"endpoint":"heartbeat","status":503,"count":1}' >/dev/null
what="server failing"
check_run 1
check "$what: the server's status, and to try again later" \
  'has "FAIL Heartbeat: Tessaline answered HTTP 503.* - Try again in a few minutes"'

ctl POST /api/revoke '{}' >/dev/null
what="token revoked"
check_run 1
check "$what: the refusal and to pair again, the token still stored" \
  'has "FAIL Heartbeat: Tessaline refused this PC.s token \(HTTP 401\) - Pair this PC again"'

# A damaged file of kept answers is named, and left where it is for the connector to deal with.
kept="$state/kept-results.json"
printf '{"jobs":[{"id":' >"$kept"
what="kept answers damaged"
check_run 1
check "$what: the file is named and stays as it was" \
  'has "FAIL Answers: .*kept-results.json cannot be used: " && [ "$(cat "$kept")" = "{\"jobs\":[{\"id\":" ] &&
   [ "$(ls "$(dirname "$kept")" | grep -c damaged)" = 0 ]'
rm "$kept"

# A certificate this PC does not trust (a company proxy's, say): named, who issued it shown where
# the platform tells, and nothing sent over that connection.
read -r id port <<<"$(peer untrusted)"
point_at "https://localhost:$port/api"
what="bad certificate"
check_run 1
check "$what: the refusal, the connection's steps, and nothing sent" \
  'has "FAIL Connection: localhost:$port resolved in [0-9]+ ms; the (certificate comes from an authority this PC does not trust|secure handshake failed: this PC refused the server.s certificate).*; nothing was sent - If your company" &&
   [ "$(ctl GET /peers/$id/requests | json "v[\"count\"]")" = 0 ]'
[ "$1" = windows ] || check "$what: whose certificate it was" \
  'has "FAIL Connection: .* \(certificate for CN=localhost, O=Tessaline Sandbox from CN=Unknown Authority, O=Tessaline Sandbox\)"'

# Nothing listens at the server address: a network failure asks to look at the connection.
point_at http://127.0.0.1:1/api
what="server down"
check_run 1
check "$what: the failed step, and to check the connection and proxy" \
  'has "FAIL Connection: 127.0.0.1:1 resolved in [0-9]+ ms; no connection - Check this PC.s internet" &&
   has "FAIL Heartbeat: Cannot reach Tessaline: .* - Check this PC.s internet connection and proxy"'

# A proxy refuses the tunnel for want of a sign-in (Linux: Wine's WinHTTP ignores any proxy here).
if [ "$1" = linux ]; then
  read -r id port <<<"$(peer none)"
  ctl POST "/peers/$id/replies" '{"status":407,"headers":[["Proxy-Authenticate","Basic realm=\"x\""]],"repeat":true}' >/dev/null
  sed -i 's|^url=.*|url=https://tessaline.invalid/api\r|' "$ini"
  run() { env -i HOME="$home" PATH="$PATH" XDG_RUNTIME_DIR="$home/run" https_proxy="http://127.0.0.1:$port" "$exe" "$@"; }
  what="proxy 407"
  check_run 1
  check "$what: the proxy named, the sentence alone" \
    'has "ok   Proxy: http://127.0.0.1:$port \(from https_proxy\)$" &&
     has "FAIL Heartbeat: The proxy server asks for a sign-in the connector cannot give; ask your IT to let it through$"'
else
  # Wine's WinHTTP cannot be given a proxy: the same demand comes from this PC, which is never
  # offered the user's credentials.
  read -r id port <<<"$(peer none)"
  ctl POST "/peers/$id/replies" '{"status":407,"headers":[["Proxy-Authenticate","NTLM"]],"repeat":true}' >/dev/null
  point_at "http://127.0.0.1:$port/api"
  what="407 from this PC"
  check_run 1
  check "$what: the sentence alone, asked once" \
    'has "FAIL Heartbeat: The proxy server asks for a sign-in the connector cannot give; ask your IT to let it through$" &&
     [ "$(ctl GET /peers/$id/requests | json "v[\"count\"]")" = 1 ]'
fi
out=$(run --once 2>&1 | tr -d '\r')
check "$what: a sync's state line says the same" \
  'has "Cannot reach Tessaline: The proxy server asks for a sign-in the connector cannot give; ask your IT to let it through$"'

exit $fail
