#!/usr/bin/env bash
# Runs a command next to a fresh sandbox:
#   with-sandbox.sh SANDBOX_PROGRAM [sandbox options...] -- COMMAND [ARGS...]
# The sandbox's addresses reach the command as TSL_SANDBOX_* environment variables (they pass
# into Wine processes too); the sandbox is stopped afterwards and the command's exit code is
# returned. On failure the sandbox's output is shown.
set -uo pipefail

sandbox=$1
shift
options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  options+=("$1")
  shift
done
[ $# -gt 0 ] && shift
if [ $# -eq 0 ]; then
  echo "usage: with-sandbox.sh SANDBOX_PROGRAM [options...] -- COMMAND [ARGS...]" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tsl-with-sandbox-XXXXXX")
"$sandbox" --exit-with-parent --state-dir "$work/state" --env-file "$work/env" "${options[@]}" \
  >"$work/log" 2>&1 &
pid=$!
shown=  # the sandbox's output was shown already

# A sandbox that does not end within ten seconds of the signal is killed: a wedged one must not
# keep the test running until ctest's time-out, long after the test itself has ended.
stop() {
  kill "$pid" 2>/dev/null
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "with-sandbox.sh: the sandbox did not stop within 10 s; killed" >&2
    [ -n "$shown" ] || tail -n 40 "$work/log" >&2
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT

for _ in $(seq 1 1200); do  # up to a minute on a loaded machine
  [ -f "$work/env" ] && break
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "with-sandbox.sh: the sandbox did not start:" >&2
    cat "$work/log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -f "$work/env" ]; then
  echo "with-sandbox.sh: the sandbox did not get ready in time" >&2
  exit 1
fi

set -a
# shellcheck disable=SC1091
. "$work/env"
set +a

"$@"
status=$?
if [ $status -ne 0 ]; then
  echo "--- sandbox output ---" >&2
  tail -n 40 "$work/log" >&2
  shown=1
fi
exit $status
