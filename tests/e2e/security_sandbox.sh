#!/usr/bin/env bash
# Where the connector token may never appear, and where a pairing code may never go. Next to a
# sandbox (with-sandbox.sh):
#   security_sandbox.sh linux EXE
#   security_sandbox.sh windows EXE WINE_RUN WINEPREFIX
# Weak TLS and untrusted certificates are refused by the transport itself: tests/net
# (HttpsTrustsOnlyKnownAuthoritiesAndModernTls); the dialog's address rule: tests/config
# (PairingAddress). Here the whole program is checked.
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
ini="$folder/connector.ini"
n=0
# Every line the program prints goes to a file of its own, to be searched at the end.
runlog() { n=$((n + 1)); run "$@" >"$work/out.$n" 2>"$work/err.$n"; echo $? >"$work/rc.$n"; }
last() { tr -d '\r' <"$work/$1.$n"; }

# Pairing codes never travel in clear text to another host, nor over weak or untrusted TLS.
for address in http://localhost.example.com/api http://127.0.0.2/api; do
  runlog --pair "$TSL_SANDBOX_PAIRING_CODE" --server "$address"
  check "pairing with $address is refused: exit 2, the reason on stderr only, nothing saved" \
    '[ "$(cat "$work/rc.$n")" = 2 ] && [ "$(last err)" = "Pairing failed: The server address must start with https://" ] &&
     [ -z "$(last out)" ] && [ ! -e "$ini" ]'
done
for tls in tls11 untrusted; do
  read -r id port < <(peer "$tls")
  runlog --pair "$TSL_SANDBOX_PAIRING_CODE" --server "https://localhost:$port/api"
  got=$(ctl GET "/peers/$id/requests" | json 'v["count"]')
  check "pairing over $tls TLS fails before anything is sent" \
    '[ "$(cat "$work/rc.$n")" = 2 ] && grep -q "^Pairing failed: Cannot reach Tessaline: " <<<"$(last err)" && [ "$got" = 0 ]'
  ctl DELETE "/peers/$id" >/dev/null
done

# A server that redirects the pairing call to another origin (port) gets the code only for
# itself: the other server sees nothing and nothing is saved.
read -r other_id other_port < <(peer none)
read -r redirector_id redirector_port < <(peer none)
ctl POST "/peers/$other_id/replies" '{"body":"{\"token\":\"stolen-token-123\"}","repeat":true}' >/dev/null
ctl POST "/peers/$redirector_id/replies" "{\"status\":307,\"headers\":[[\"Location\",\"http://127.0.0.1:$other_port/api/v1/tally/agent/pair\"]],\"repeat\":true}" >/dev/null
runlog --pair "$TSL_SANDBOX_PAIRING_CODE" --server "http://127.0.0.1:$redirector_port/api"
check "a pairing redirected to another server fails, naming the status and that server" \
  '[ "$(cat "$work/rc.$n")" = 2 ] && grep -q "^Pairing failed: Cannot reach Tessaline: Refused the redirect (HTTP 307) from 127.0.0.1 to another server, http://127.0.0.1:$other_port" <<<"$(last err)"'
check "the other server never saw the code, and nothing was saved" \
  '[ "$(ctl GET "/peers/$other_id/requests" | json "v[\"count\"]")" = 0 ] && [ ! -e "$ini" ]'
ctl DELETE "/peers/$other_id" >/dev/null; ctl DELETE "/peers/$redirector_id" >/dev/null

runlog --pair "$TSL_SANDBOX_PAIRING_CODE" --server "$TSL_SANDBOX_API" --tally-host 127.0.0.1 \
       --tally-port "$TSL_SANDBOX_TALLY_PORT"
check "paired over http with 127.0.0.1" '[ "$(cat "$work/rc.$n")" = 0 ]'
token=$(ctl GET /api/state | json 'v["tokens"][0]')
check "the sandbox issued a token" '[ ${#token} -ge 20 ]'

# A job relayed, a server that quotes the token back in its error, a report that fails (the
# answers are kept in a file), the kept answers delivered, then the token revoked.
ctl POST /api/jobs '{"generate":1}' >/dev/null
runlog --once
ctl POST /api/failures "{\"endpoint\":\"heartbeat\",\"status\":500,\"body\":$(python3 -c 'import json,sys; print(json.dumps(json.dumps({"message": "Bad token " + sys.argv[1]})))' "$token")}" >/dev/null
runlog --once
check "a quoted token is hidden in the status line" \
  'grep -qx "Cannot reach Tessaline: Tessaline answered HTTP 500: Bad token \[token\]" <<<"$(last out)"'
ctl POST /api/jobs '{"generate":1}' >/dev/null
ctl POST /api/failures '{"endpoint":"result","status":503}' >/dev/null
runlog --once
kept="$state/kept-results.json"
check "a failed report keeps the answers in a file" '[ -s "$kept" ]'
cp "$kept" "$work/kept-copy.json" 2>/dev/null
runlog --once
ctl POST /api/revoke '{}' >/dev/null
runlog --once

# connector.ini holds the token only protected; neither it nor its protected form is readable
# from any file the program wrote, nor from anything it printed.
text=$(iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || cat "$ini")
check "connector.ini never holds the token in clear" '! grep -qF "$token" <<<"$text"'
hits=$(grep -rlF "$token" "${places[@]}" "$work" 2>/dev/null)
check "the token is in no output, log, settings or kept file" '[ -z "$hits" ]'
[ -n "$hits" ] && echo "found in: $hits"
check "the log was written and searched" '[ -n "$(find "${places[@]}" -name connector.log -size +0)" ]'
exit $fail
