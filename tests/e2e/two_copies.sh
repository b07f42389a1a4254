#!/usr/bin/env bash
# Two copies of the connector on one PC take turns at syncing: one that finds the other in a
# pass does no network work and says so, and kept answers are neither lost nor reported twice.
# Next to a sandbox (with-sandbox.sh):
#   two_copies.sh linux EXE          (a --once beside another --once, and beside the agent)
#   two_copies.sh windows EXE WINE_RUN WINEPREFIX      (a --once beside another --once)
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
trap '[ -n "${agent:-}" ] && kill "$agent" 2>/dev/null; cleanup' EXIT
results() { ctl GET /api/results/digest | count "x['jobId'] == '$1'"; }
requests() { ctl GET /api/requests | count True; }

# Tally is a scripted peer that holds the first request open until the peer is removed, so the
# first copy is inside its pass for as long as the test needs, however slow the machine.
read -r peer_id peer_port < <(peer none)
ctl POST "/peers/$peer_id/replies" \
  '[{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},{"noAnswer":true,"holdMs":600000}]' >/dev/null
check "paired" 'paired "$peer_port"'
job=$(ctl POST /api/jobs '{"generate":1}' | json 'v["queued"][0]')

start --once >"$work/first.out" 2>&1
first=$!
held() { [ "$(ctl GET "/peers/$peer_id/requests" | json 'v["count"]')" -ge 2 ]; }
check "the first copy is waiting for Tally inside its pass" 'wait_for held 600'
before=$(requests)
second=$(run --once 2>&1); rc=$?; second=$(tr -d '\r' <<<"$second")
check "a second copy meanwhile: exit 1 and the sentence" \
  '[ $rc -eq 1 ] && grep -qx "Syncing: Another copy of the connector is syncing on this PC" <<<"$second"'
check "a second copy meanwhile: nothing sent to Tessaline or Tally" \
  '[ "$(requests)" = "$before" ] && [ "$(ctl GET "/peers/$peer_id/requests" | json "v[\"count\"]")" = 2 ]'
ctl DELETE "/peers/$peer_id" >/dev/null  # Tally goes away: the first copy reports and ends
wait "$first"
check "the first copy reported its job once" '[ "$(results "$job")" = 1 ]'

if [ "$1" = linux ]; then
  # The agent and a --once taking turns: what one keeps, the other reports, once.
  ctl POST /api/settings '{"pollSeconds":15}' >/dev/null
  paired "$TSL_SANDBOX_TALLY_PORT" "$(ctl POST /api/codes '{}' | json 'v["code"]')"
  beats() { ctl GET /api/heartbeats | count True; }
  seen=$(beats)
  start --background >/dev/null 2>&1
  agent=$!
  check "the agent made its first pass" 'wait_for "[ \$(beats) -gt $seen ]" 300'
  kept_job=$(ctl POST /api/jobs '{"generate":1}' | json 'v["queued"][0]')
  ctl POST /api/failures '{"endpoint":"result","status":503}' >/dev/null
  run --once >/dev/null 2>&1  # kept by whichever copy ran the job
  next_job=$(ctl POST /api/jobs '{"generate":1}' | json 'v["queued"][0]')
  check "both jobs reported" \
    'wait_for "[ \$(results $kept_job) -ge 1 ] && [ \$(results $next_job) -ge 1 ]" 600'
  seen=$(beats)
  check "the agent made another pass" 'wait_for "[ \$(beats) -gt $seen ]" 600'
  check "each reported exactly once, each run in Tally once" \
    '[ "$(results "$kept_job")" = 1 ] && [ "$(results "$next_job")" = 1 ] && [ "$(tally_posts)" = 2 ]'
  check "nothing is kept any more" '[ ! -e "$state/kept-results.json" ]'
  kill -TERM "$agent"; wait "$agent"
fi
exit $fail
