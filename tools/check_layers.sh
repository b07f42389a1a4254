#!/usr/bin/env bash
# The areas of src/ form layers, each built only on those below it:
#   support, json -> config, net -> api, tally -> sync -> diag -> tray -> app
# Fails, naming each one, when a file of src/ includes a header of its own layer's peer or of a
# higher layer (an include of "area/..." where area ranks the same or above the file's own area).
#   check_layers.sh [SOURCE_DIR]
set -u
cd "${1:-$(dirname "$0")/..}/src" || exit 2
rank() {
  case $1 in
    support | json) echo 0 ;; config | net) echo 1 ;; api | tally) echo 2 ;;
    sync) echo 3 ;; diag) echo 4 ;; tray) echo 5 ;; app) echo 6 ;; *) echo -1 ;;
  esac
}
bad=0
while IFS=: read -r file _ header; do
  own=${file%%/*} used=${header%%/*}
  [ "$own" = "$used" ] && continue
  if [ "$(rank "$used")" -ge "$(rank "$own")" ] && [ "$(rank "$used")" -ge 0 ]; then
    echo "upward include: $file includes $header"
    bad=1
  fi
done < <(grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/[^"]+"' \
           --include='*.h' --include='*.cpp' --include='*.in' --include='*.rc' . |
         sed -E 's#^\./##; s#^([^:]*):[0-9]+:.*"([^"]+)"#\1:x:\2#')
[ $bad -eq 0 ] && echo "ok: every include of src/ looks down"
exit $bad
