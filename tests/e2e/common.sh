# Shared by the scripts that run the built programs; sourced, not run.
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }
ctl() { curl -fsS -X "$1" "$TSL_SANDBOX_CONTROL$2" ${3:+-d "$3"}; }
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
