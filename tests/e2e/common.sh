# Shared by the scripts that run the built programs; sourced, not run.
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }
ctl() { curl -fsS -X "$1" "$TSL_SANDBOX_CONTROL$2" ${3:+-d "$3"}; }
json() { python3 -c "import json,sys; v=json.load(sys.stdin); print($1)"; }  # json EXPRESSION-OF-v
peer() { ctl POST /peers "{\"tls\":\"$1\"}" | json 'v["id"], v["port"]'; }  # peer TLS: "ID PORT"
count() { json "sum(1 for x in v if $1)"; }  # count CONDITION-ON-x: the items of a list that match
# paired [TALLY-PORT [CODE]]: the program paired with the sandbox, its Tally at 127.0.0.1.
paired() {
  run --pair "${2:-$TSL_SANDBOX_PAIRING_CODE}" --server "$TSL_SANDBOX_API" --tally-host 127.0.0.1 \
    --tally-port "${1:-$TSL_SANDBOX_TALLY_PORT}" >/dev/null 2>&1
}
# The POSTs Tally has received, without a Python start per call: loops that must notice a request
# while Tally still holds it poll this.
tally_posts() { ctl GET /tally/requests | grep -c '"method": "POST"'; }
wait_for() { for _ in $(seq "${2:-300}"); do eval "$1" && return 0; sleep 0.1; done; return 1; }
# wine_users WINE_RUN PREFIX: the prefix's user folder, once a Wine session has made it.
wine_users() {
  "$1" cmd /c exit 0 >/dev/null 2>&1
  local users="$2/drive_c/users/${USER:-$(id -un)}"
  [ -d "$users" ] || users=$(ls -d "$2"/drive_c/users/*/ | grep -v Public | head -1)
  echo "$users"
}
# use_program linux|windows EXE [WINE_RUN PREFIX]: run and start (in the background, $! being
# the program itself) the program with its settings in $folder and its state in $state, both
# empty now and removed by cleanup at the exit; scratch files go in $work.
use_program() {
  exe=$2 work=$(mktemp -d)
  if [ "$1" = windows ]; then
    wine_run=$3
    local users
    users=$(wine_users "$3" "$4")
    places=("$users/AppData/Roaming/Tessaline" "$users/AppData/Local/Tessaline")
    folder="${places[0]}/Tally Connector" state="${places[1]}/Tally Connector"
    rm -rf "${places[@]}"
    run() { "$wine_run" "$exe" "$@"; }
    start() { "$wine_run" "$exe" "$@" & }  # wine-run.sh and wine exec into the program
  else
    home="$work/home" places=("$work/home")
    folder="$home/.config/Tessaline/Tally Connector" state="$home/.local/state/Tessaline/Tally Connector"
    mkdir -p "$home/run" && chmod 700 "$home/run"
    run() { env -i HOME="$home" PATH="$PATH" XDG_RUNTIME_DIR="$home/run" "$exe" "$@"; }
    start() { env -i HOME="$home" PATH="$PATH" XDG_RUNTIME_DIR="$home/run" "$exe" "$@" & }
  fi
  cleanup() { rm -rf "${places[@]}" "$work"; }
  trap cleanup EXIT
}
# start_x DIR [XVFB-ARGS...]: a private X server for Wine's windows ($TSL_WINE_DISPLAY, $xpid);
# the running Wine session ends first, as one begun without a display keeps its null driver.
start_x() {
  timeout 60 wineserver -w
  Xvfb -displayfd 3 -nolisten tcp "${@:2}" 3>"$1/display" >/dev/null 2>&1 &
  xpid=$!
  wait_for "[ -s '$1/display' ]" 100 && export TSL_WINE_DISPLAY=":$(head -1 "$1/display")"
}
