#!/usr/bin/env bash
# The Linux background agent against the sandbox (started by with-sandbox.sh):
#   agent.sh linux EXE
# It syncs on its own, logs its state changes, refuses a second copy and stops cleanly on
# SIGTERM and on SIGINT.
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
trap 'kill $agent 2>/dev/null; cleanup' EXIT
log="$state/logs/connector.log"
results() { ctl GET /api/results | json 'len(v)'; }

paired || { echo "FAIL: pairing"; exit 1; }
ctl POST /api/clear '{}' >/dev/null
ctl POST /api/jobs '{"generate":3}' >/dev/null
: >"$log"

for signal in TERM INT; do
  # $! is the agent itself; a shell without job control starts it with SIGINT ignored, which
  # the agent must undo.
  start --background >"$work/out" 2>&1
  agent=$!
  check "SIG$signal run: the queued jobs are synced without a console" 'wait_for "[ \$(results) -ge 3 ]"'
  check "SIG$signal run: up to date, in the log" 'wait_for "grep -q \"\\[INFO\\] Sync state: Up to date\" \"\$log\""'
  second=$(run --background); rc=$?
  check "SIG$signal run: a second copy says so and exits 0" \
    '[ $rc -eq 0 ] && [ "$second" = "Tessaline Tally Connector is already running." ]'
  kill -"$signal" "$agent"
  wait "$agent"; rc=$?
  check "SIG$signal run: exit 0" '[ $rc -eq 0 ]'
  check "SIG$signal run: starting first and once (not by the second copy), Exiting last" \
    'head -1 "$log" | grep -qF "Tessaline Tally Connector $TSL_VERSION starting" && [ "$(grep -c "starting\|Exiting" "$log")" = 2 ] &&
     tail -1 "$log" | tr -d "\r" | grep -q "\[INFO\] Exiting$"'
  check "SIG$signal run: nothing on the console" '[ ! -s "$work/out" ]'
  [ $fail -eq 0 ] || cat "$log"
  : >"$log"
done
check "every job reported exactly once" '[ "$(results)" = 3 ]'

# A console pairing while the agent runs is taken up at once, without a restart: the old token
# is revoked, so a heartbeat recorded from here on carries the new one.
heartbeats() { ctl GET /api/heartbeats | json 'len(v)'; }
ctl POST /api/settings '{"pollSeconds":3600}' >/dev/null
start --background >"$work/out" 2>&1
agent=$!
wait_for 'grep -q "Sync state: Up to date" "$log"'
ctl POST /api/revoke '{}' >/dev/null
code=$(ctl POST /api/codes '{}' | json 'v["code"]')
before=$(heartbeats)
run --pair "$code" --server "$TSL_SANDBOX_API" >/dev/null; rc=$?
check "a console --pair beside the agent: exit 0, the agent syncs with the new token at once" \
  '[ $rc -eq 0 ] && wait_for "[ \$(heartbeats) -gt $before ]" 100'
check "the agent still runs after the console's signal" 'kill -0 $agent'

# SIGTERM while Tally holds a request: the agent ends within 2 s, not when Tally answers. Tally
# takes 4.5 s over every answer (the probe's 5 s included), so a wait for the answer would show.
ctl POST /tally/config '{"delayMs":4500}' >/dev/null
before=$(tally_posts)
ctl POST /api/jobs '{"generate":1}' >/dev/null
kill -USR1 "$agent"  # a pass now, not at the next poll
wait_for "[ \$(tally_posts) -gt $before ]" 100
start=$(date +%s%N)
kill -TERM "$agent"; wait "$agent"; rc=$?
took=$(( ($(date +%s%N) - start) / 1000000 ))
ctl POST /tally/config '{"delayMs":0}' >/dev/null
check "SIGTERM during a Tally request: exit 0 within 2 s (${took} ms)" \
  '[ $(tally_posts) -gt $before ] && [ $rc -eq 0 ] && [ $took -le 2000 ]'
check "the job's answers are kept for the next start" \
  '[ -s "$state/kept-results.json" ]'
exit $fail
