#!/usr/bin/env bash
# --pair and --once as processes against the sandbox (started by with-sandbox.sh):
#   console.sh linux EXE
#   console.sh windows EXE WINE_RUN WINEPREFIX
# Exit codes, the exact lines on stdout and stderr, and connector.ini before and after.
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
ini="$folder/connector.ini"
strip() { tr -d '\r'; }
ini_text() { text=$(iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || cat "$ini"); text=$(strip <<<"$text"); }

# A failed pairing (a code the server does not know) changes nothing, byte for byte.
mkdir -p "$folder"
printf '[server]\r\nurl=https://example.invalid/api\r\n; kept as it is\r\n' >"$ini"
before=$(od -c "$ini")
run --pair WRONG-CODE --server "$TSL_SANDBOX_API/v1/" --tally-host 127.0.0.1 >"$work/out" 2>"$work/err"; rc=$?
check "unknown code: exit 2, the server's message on stderr, nothing on stdout, connector.ini unchanged" \
  '[ $rc -eq 2 ] && [ ! -s "$work/out" ] && [ "$(od -c "$ini")" = "$before" ] &&
   [ "$(strip <"$work/err")" = "Pairing failed: Tessaline answered HTTP 400: This pairing code is not valid or has expired" ]'
rm -f "$ini"

# A successful pairing saves the address without /v1, the host and port, the token protected.
run --pair "$TSL_SANDBOX_PAIRING_CODE" --server "$TSL_SANDBOX_API/v1/" --tally-host 127.0.0.1 \
    --tally-port "$TSL_SANDBOX_TALLY_PORT" >"$work/out" 2>"$work/err"; rc=$?
check "pairing: exit 0 and the line with the organisation" \
  '[ $rc -eq 0 ] && [ "$(strip <"$work/out")" = "Paired with Tessaline (Sandbox Organisation)." ]'
ini_text
saved() { for line; do grep -qx -- "$line" <<<"$text" || return 1; done; }
check "pairing: url saved normalised, host, port, organisation, company and a token saved" \
  'saved "url=$TSL_SANDBOX_API" host=127.0.0.1 "port=$TSL_SANDBOX_TALLY_PORT" "organisation=Sandbox Organisation" \
     "company=Sandbox Traders" && grep -q "^token=..*" <<<"$text"'

# One sync run relays the queued jobs and reports them.
ctl POST /api/jobs '{"generate":2}' >/dev/null
out=$(run --once); rc=$?; out=$(strip <<<"$out")
check "--once: exit 0, the state lines in order" \
  '[ $rc -eq 0 ] && [ "$(grep -v "^[0-9]" <<<"$out" | head -2)" = "Syncing: Syncing with Sandbox Traders
Up to date: Synced with Sandbox Traders" ]'
check "--once: the last job line" 'grep -qx "Last job: import: Job job-2: 1 of 1 requests carried out" <<<"$out"'
check "--once: the job log lines are echoed" 'grep -q "\[INFO\]   import-1 -> HTTP 200, " <<<"$out"'
check "--once: the server stored both results" '[ "$(ctl GET /api/results | json "len(v)")" = 2 ]'

# Revoked in Tessaline: the next run says so, forgets the token and exits 1.
ctl POST /api/revoke '{}' >/dev/null
out=$(run --once); rc=$?; out=$(strip <<<"$out")
check "--once after revocation: exit 1 and the disconnection line" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: This PC was disconnected in Tessaline. Pair it again." <<<"$out"'
ini_text
check "--once after revocation: the saved token is empty" 'grep -qx "token=" <<<"$text"'

exit $fail
