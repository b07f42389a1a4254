#!/usr/bin/env bash
# --pair and --once as processes against the sandbox (started by with-sandbox.sh):
#   console_sandbox.sh linux EXE
#   console_sandbox.sh windows EXE WINE_RUN WINEPREFIX
# Exit codes, the exact lines on stdout and stderr, and connector.ini before and after.
set -u
target=$1 exe=$2
source "$(dirname "$0")/common.sh"

if [ "$target" = windows ]; then
  wine_run=$3 prefix=$4
  users=$(wine_users "$wine_run" "$prefix")
  folder="$users/AppData/Roaming/Tessaline/Tally Connector"
  rm -rf "$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline"
  run() { "$wine_run" "$exe" "$@"; }
else
  home=$(mktemp -d); trap 'rm -rf "$home"' EXIT
  folder="$home/.config/Tessaline/Tally Connector"
  run() { env -i HOME="$home" PATH="$PATH" "$exe" "$@"; }
fi
ini="$folder/connector.ini"
strip() { tr -d '\r'; }

# A failed pairing (a code the server does not know) changes nothing, byte for byte.
mkdir -p "$folder"
printf '[server]\r\nurl=https://example.invalid/api\r\n; kept as it is\r\n' >"$ini"
before=$(od -c "$ini")
run --pair WRONG-CODE --server "$TSL_SANDBOX_API/v1/" --tally-host 127.0.0.1 >"$folder/../out" 2>"$folder/../err"; rc=$?
check "unknown code: exit 2" '[ $rc -eq 2 ]'
check "unknown code: the server's message on stderr" \
  '[ "$(strip <"$folder/../err")" = "Pairing failed: Tessaline answered HTTP 400: This pairing code is not valid or has expired" ]'
check "unknown code: nothing on stdout" '[ ! -s "$folder/../out" ]'
check "unknown code: connector.ini unchanged" '[ "$(od -c "$ini")" = "$before" ]'
rm -f "$ini"

# A successful pairing saves the address without /v1, the host and port, the token protected.
run --pair "$TSL_SANDBOX_PAIRING_CODE" --server "$TSL_SANDBOX_API/v1/" --tally-host 127.0.0.1 \
    --tally-port "$TSL_SANDBOX_TALLY_PORT" >"$folder/../out" 2>"$folder/../err"; rc=$?
check "pairing: exit 0 and the line with the organisation" \
  '[ $rc -eq 0 ] && [ "$(strip <"$folder/../out")" = "Paired with Tessaline (Sandbox Organisation)." ]'
text=$(iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || cat "$ini"); text=$(strip <<<"$text")
check "pairing: url saved normalised" 'grep -qx "url=$TSL_SANDBOX_API" <<<"$text"'
check "pairing: host, port, organisation, company saved" \
  'grep -qx "host=127.0.0.1" <<<"$text" && grep -qx "port=$TSL_SANDBOX_TALLY_PORT" <<<"$text" && grep -qx "organisation=Sandbox Organisation" <<<"$text" && grep -qx "company=Sandbox Traders" <<<"$text"'
token=$(ctl GET /api/state | python3 -c 'import json,sys; print(json.load(sys.stdin)["tokens"][0])')
check "pairing: the token is stored, but never in clear" \
  'grep -q "^token=..*" <<<"$text" && ! grep -qF "$token" "$ini"'

# One sync run relays the queued jobs and reports them.
ctl POST /api/jobs '{"generate":2}' >/dev/null
out=$(run --once); rc=$?; out=$(strip <<<"$out")
check "--once: exit 0" '[ $rc -eq 0 ]'
check "--once: the state lines in order" \
  '[ "$(grep -v "^[0-9]" <<<"$out" | head -2)" = "Syncing: Syncing with Sandbox Traders
Up to date: Synced with Sandbox Traders" ]'
check "--once: the last job line" 'grep -qx "Last job: import: Job job-2: 1 of 1 requests carried out" <<<"$out"'
check "--once: the job log lines are echoed" 'grep -q "\[INFO\]   import-1 -> HTTP 200, " <<<"$out"'
check "--once: the server stored both results" \
  '[ "$(ctl GET /api/results | python3 -c "import json,sys; print(len(json.load(sys.stdin)))")" = 2 ]'
check "--once: the token is in no output" '! grep -qF "$token" <<<"$out"'

# Revoked in Tessaline: the next run says so, forgets the token and exits 1.
ctl POST /api/revoke '{}' >/dev/null
out=$(run --once); rc=$?; out=$(strip <<<"$out")
check "--once after revocation: exit 1 and the disconnection line" \
  '[ $rc -eq 1 ] && grep -qx "Not connected to Tessaline: This PC was disconnected in Tessaline. Pair it again." <<<"$out"'
text=$(iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || cat "$ini"); text=$(strip <<<"$text")
check "--once after revocation: the saved token is empty" 'grep -qx "token=" <<<"$text"'

if [ "$target" = windows ]; then rm -rf "$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline"; fi
exit $fail
