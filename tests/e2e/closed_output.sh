#!/usr/bin/env bash
# "--once" writing into a pipe nobody reads any more (`--once | head -c 1`): the pass still
# relays and reports its job, and the exit code is the pass's (0 or 1), not death by SIGPIPE
# (141). Next to a sandbox (with-sandbox.sh):
#   closed_output.sh linux EXE
set -u
source "$(dirname "$0")/common.sh"
use_program "$@"
results() { ctl GET /api/results | json 'len(v)'; }

check "paired" paired

# A pipe whose only reader is closed before the program starts, so that its very first line
# meets a closed output every time (a reader such as `true` might not have exited yet).
mkfifo "$work/pipe"
exec 3<>"$work/pipe" 4>"$work/pipe"
exec 3<&-
ctl POST /api/jobs '{"generate":1}' >/dev/null
run --once >&4; rc=$?
exec 4>&-
check "closed before the start: exit 0 or 1, not 141 (got $rc)" '[ $rc -eq 0 ] || [ $rc -eq 1 ]'
check "closed before the start: the job's result reached Tessaline" '[ "$(results)" = 1 ]'

# The usual form: a reader that stops at once.
ctl POST /api/jobs '{"generate":1}' >/dev/null
run --once | head -c 0; codes=("${PIPESTATUS[@]}")
check "piped into head -c 0: exit 0 or 1, not 141 (got ${codes[0]})" \
  '[ "${codes[0]}" -eq 0 ] || [ "${codes[0]}" -eq 1 ]'
check "piped into head -c 0: the job's result reached Tessaline" '[ "$(results)" = 2 ]'
exit $fail
