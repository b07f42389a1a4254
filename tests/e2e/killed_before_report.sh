#!/usr/bin/env bash
# The program killed after Tally answered a job and before Tessaline took the answers: the next
# start reports the kept answers and does not run the job in Tally again, also when they were
# kept where an earlier version kept them (beside connector.ini). Next to a sandbox
# (with-sandbox.sh):
#   killed_before_report.sh linux EXE
#   killed_before_report.sh windows EXE WINE_RUN WINEPREFIX
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
kept="$state/kept-results.json"

check "paired" paired
job=$(ctl POST /api/jobs '{"generate":1}' | json 'v["queued"][0]')
# The report hangs for a long time, then fails without being recorded: the program is killed
# while it waits.
ctl POST /api/failures '{"endpoint":"result","status":503,"delayMs":6000}' >/dev/null

start --once >/dev/null 2>&1
pid=$!
reporting() { ctl GET /api/requests | grep -q '/result"'; }
check "the report was on its way when the program was killed" 'wait_for reporting 600 && [ -f "$kept" ]'
# The process killed is the program (Wine shows the Windows path as its name), not a wrapper.
argv0=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -1)
kill -KILL "$pid" 2>/dev/null
wait "$pid" 2>/dev/null; status=$?
check "the program itself was killed ($argv0)" \
  '[ $status -eq 137 ] && grep -qi "tessaline.\?tally.\?connector" <<<"${argv0##*[/\\]}"'
check "the kept file holds the job" 'grep -qF "\"id\":\"$job\"" "$kept"'
check "Tally ran the job once" '[ "$(tally_posts)" -eq 1 ]'
check "Tessaline has no result yet" '[ "$(ctl GET /api/results/digest | count "True")" -eq 0 ]'

# Where an earlier version kept them: beside connector.ini. The next start moves them first.
mv "$kept" "$folder/kept-results.json"
out=$(run --once); rc=$?; out=$(tr -d '\r' <<<"$out")
check "next start: exit 0, the kept answers reported" \
  '[ $rc -eq 0 ] && grep -qx "Last job: import: Job $job: 1 of 1 requests carried out" <<<"$out"'
check "next start: the log says so" \
  'grep -q "\[INFO\] Results of 1 job(s) are waiting to be reported to Tessaline" <<<"$out" && grep -q "\[INFO\] Job $job (import): reporting the results kept from before" "$state/logs/connector.log"'
check "Tessaline took the answers exactly once" \
  '[ "$(ctl GET /api/results/digest | count "x[\"jobId\"] == \"$job\"")" -eq 1 ]'
check "Tally did not run the job again" '[ "$(tally_posts)" -eq 1 ]'
check "next start: the kept file was moved to the state folder, with a line" \
  'grep -q "\[INFO\] Moved 1 file(s) of kept results from " <<<"$out"'
check "nothing is kept any more, in either folder" \
  '[ ! -e "$kept" ] && [ ! -e "$folder/kept-results.json" ]'

# Killed in the middle of a job (a power cut, a log-off that does not wait): the answer that
# arrived is not lost, and at the next start no request of the job goes to Tally again.
ctl POST /tally/clear '{}' >/dev/null
ctl POST /api/clear '{}' >/dev/null
job=$(ctl POST /api/jobs '{"kind":"import","requests":[{"ref":"a","xml":"<ENVELOPE/>"},{"ref":"b","xml":"<ENVELOPE/>"},{"ref":"c","xml":"<ENVELOPE/>"}]}' | json 'v["queued"][0]')
ctl POST /tally/config '{"delayMs":2000}' >/dev/null
start --once >/dev/null 2>&1
pid=$!
wait_for '[ "$(tally_posts)" -ge 2 ]' 600
kill -KILL "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
ctl POST /tally/config '{"delayMs":0}' >/dev/null
check "killed while Tally held the second request" '[ "$(tally_posts)" -eq 2 ]'
out=$(run --once); out=$(tr -d '\r' <<<"$out")
results=$(ctl GET /api/results/digest | json "'\n'.join(line for r in v if r['jobId'] == '$job'
  for line in [r['error']] + [f'{x[\"ref\"]} {x[\"ok\"]} {x[\"error\"]}' for x in r['results']])")
expected="The connector ended before Tally answered; Tally may have carried out this request
a True None
b False The connector ended before Tally answered; Tally may have carried out this request
c False Not sent to Tally: the connector ended"
check "next start: the answer received and what became of the rest reached Tessaline once" \
  '[ "$results" = "$expected" ] && grep -q "the connector ended while Tally ran it" <<<"$out"'
[ "$results" = "$expected" ] || echo "$results"
check "next start: no request of the job went to Tally again" '[ "$(tally_posts)" -eq 2 ]'
exit $fail
