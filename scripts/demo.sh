#!/usr/bin/env bash
# The road of a job in under a minute: the Linux connector against the sandbox, which plays
# both Tessaline's connector API and Tally's XML server on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
echo "Building the connector and the sandbox (native-release) ..."
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target connector tsl-sandbox >/dev/null
bin=build/native-release/src/app/tessaline-tally-connector
sandbox=build/native-release/tools/sandbox/tsl-sandbox

work=$(mktemp -d "${TMPDIR:-/tmp}/tsl-demo-XXXXXX")
# A throw-away home: the demo's settings, log and autostart entry stay out of yours.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.local/state"
export XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
"$sandbox" --env-file "$work/env" --state-dir "$work/state" --generate-jobs 2 >"$work/sandbox.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 1 200); do [ -f "$work/env" ] && break; sleep 0.05; done
set -a; . "$work/env"; set +a
curl -fsS -X POST "$TSL_SANDBOX_CONTROL/api/jobs" -d '{"generate":1,"kind":"export"}' >/dev/null

echo
sed -n '1,7p' "$work/sandbox.log"
echo
echo "\$ tessaline-tally-connector --pair $TSL_SANDBOX_PAIRING_CODE --server $TSL_SANDBOX_API --tally-port $TSL_SANDBOX_TALLY_PORT"
"$bin" --pair "$TSL_SANDBOX_PAIRING_CODE" --server "$TSL_SANDBOX_API" --tally-port "$TSL_SANDBOX_TALLY_PORT"
echo
echo "\$ tessaline-tally-connector --once"
set +e
"$bin" --once
rc=$?
set -e
echo "(exit code $rc)"

echo
echo "What reached the simulated Tally:"
curl -fsS "$TSL_SANDBOX_CONTROL/tally/requests" | python3 -c '
import json, re, sys
for r in json.load(sys.stdin):
    if r["method"] == "GET":
        print("  GET /                       (is Tally running?)")
        continue
    kind = re.search(r"<TALLYREQUEST>(.*?)</TALLYREQUEST>", r["body"])
    what = re.search(r"<(?:REPORTNAME|ID)>(.*?)</", r["body"])
    print("  POST / %-20s %s, %d bytes of XML" % (kind.group(1) if kind else "?",
          what.group(1) if what else "", r["size"]))
'
echo
echo "What the simulated Tessaline stored:"
curl -fsS "$TSL_SANDBOX_CONTROL/api/results" | python3 -c '
import json, sys
for r in json.load(sys.stdin):
    for item in r["body"]["results"]:
        print("  job %-6s %-10s ok=%s HTTP %s, %d bytes of Tally answer" % (r["jobId"], item["ref"],
              str(item["ok"]).lower(), item["httpStatus"], len(item["body"])))
'
echo
echo "Settings: $XDG_CONFIG_HOME/Tessaline/Tally Connector/connector.ini (token stored encrypted)"
grep -v '^token=' "$XDG_CONFIG_HOME/Tessaline/Tally Connector/connector.ini" | sed 's/^/  /'
