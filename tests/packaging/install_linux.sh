#!/usr/bin/env bash
# cmake --install of the Linux build: the binary runs from its new place and the systemd user
# unit starts exactly that binary, whatever the prefix looks like; then the Debian package.
set -u
build=$1
source "$(dirname "$0")/../e2e/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unit_rel=share/systemd/user/tessaline-tally-connector.service
export XDG_RUNTIME_DIR="$work/runtime"   # systemd-analyze --user needs one
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# verify_unit UNIT: systemd's own reading of the unit, which fails when ExecStart names no
# executable file. Returns 2 when systemd-analyze is not there.
verify_unit() {
  command -v systemd-analyze >/dev/null || return 2
  systemd-analyze verify --user "$1" >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; return 1; }
}

export HOME="$work/home"
plain="$HOME/.local"
cmake --install "$build" --prefix "$plain" >/dev/null
out=$("$plain/bin/tessaline-tally-connector" --version)
check "the installed binary prints its version" '[ "$out" = "Tessaline Tally Connector $TSL_VERSION" ]'
exec_line=$(grep '^ExecStart=' "$plain/$unit_rel")
check "the unit starts the installed binary's background agent" \
  '[ "$exec_line" = "ExecStart=$plain/bin/tessaline-tally-connector --background" ]'

# Blanks, a specifier sign and a dollar in the path must reach systemd as plain characters.
odd="$work/odd dir %h \$HOME"
cmake --install "$build" --prefix "$odd" >/dev/null
verify_unit "$odd/$unit_rel"; rc=$?
if [ $rc -eq 2 ]; then
  echo "skip: systemd-analyze is not installed"
else
  check "systemd accepts the unit and finds the binary under an odd prefix" '[ $rc -eq 0 ]'
  check "systemd looks for user units where a home install puts the unit" \
    'systemd-analyze unit-paths --user 2>/dev/null | grep -qx "$(dirname "$plain/$unit_rel")"'
  mv "$odd/bin/tessaline-tally-connector" "$work/moved"
  verify_unit "$odd/$unit_rel" >/dev/null; rc=$?
  check "systemd's check notices a binary that is not where ExecStart says" '[ $rc -eq 1 ]'
fi

# The Debian package, made into a scratch folder: what it holds, what it depends on, lintian's
# verdict, then installed into a throw-away root with its own dpkg database and removed again.
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 || cat "$work/cpack.log"
deb=$(ls "$work"/deb/*.deb 2>/dev/null)
check "cpack makes tessaline-tally-connector_VERSION_amd64.deb ($(stat -c %s "$deb" 2>/dev/null) bytes)" \
  '[ "$(basename "$deb")" = tessaline-tally-connector_${TSL_VERSION}_amd64.deb ]'
files=$(dpkg-deb -c "$deb" | awk '{ print "/" $6 }')
holds() { for f; do grep -qx "/./usr/$f" <<<"$files" || return 1; done; }
check "it holds the binary, the user unit, the icons (7 sizes and the drawing) and the manual page" \
  'holds bin/tessaline-tally-connector share/systemd/user/tessaline-tally-connector.service \
     share/icons/hicolor/scalable/apps/tessaline-tally-connector.svg share/man/man1/tessaline-tally-connector.1.gz &&
   [ "$(grep -c "/hicolor/[0-9]*x[0-9]*/apps/tessaline-tally-connector.png$" <<<"$files")" -eq 7 ]'
# Each library the binary loads must come with a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends)
missing=
for lib in $(objdump -p "$build/src/app/tessaline-tally-connector" | awk '$1 == "NEEDED" { print $2 }'); do
  owner=$(dpkg -S "*/x86_64-linux-gnu/$lib" 2>/dev/null | head -1 | cut -d: -f1)
  [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] || missing+=" $lib($owner)"
done
check "it depends on the packages of every library the binary loads ($depends)" '[ -z "$missing" ]'
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1; rc=$?
check "lintian finds no error" '[ $rc -eq 0 ]'
[ $rc -eq 0 ] || cat "$work/lintian.log"

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" && touch "$root/var/lib/dpkg/status"
pkg() { dpkg --root="$root" --force-not-root --force-depends "$@" >"$work/dpkg.log" 2>&1; }
pkg -i "$deb"; rc=$?
out=$("$root/usr/bin/tessaline-tally-connector" --version 2>&1)
check "dpkg installs it and the installed binary runs: $out" \
  '[ $rc -eq 0 ] && [ "$out" = "Tessaline Tally Connector $TSL_VERSION" ]'
exec_line=$(grep '^ExecStart=' "$root/usr/share/systemd/user/tessaline-tally-connector.service")
# cpack stages under DESTDIR: the unit must name the final place, not the stage.
check "the packaged unit starts /usr/bin/tessaline-tally-connector" \
  '[ "$exec_line" = "ExecStart=/usr/bin/tessaline-tally-connector --background" ]'
pkg -r tessaline-tally-connector; rc=$?
check "dpkg removes it without leaving a file behind" \
  '[ $rc -eq 0 ] && [ -z "$(find "$root" -mindepth 1 -path "$root/var" -prune -o -print)" ]'
exit $fail
