#!/usr/bin/env bash
# Signs Windows programs and packages in place (Authenticode, SHA-256) with osslsigncode:
#   TSL_SIGN_PASSWORD=... sign.sh [--timestamp URL] CERT.pfx FILE...
# The password of the PKCS#12 file comes from TSL_SIGN_PASSWORD, never from the command line,
# where any user of the machine could read it; osslsigncode reads it from a pipe. --timestamp
# asks an RFC 3161 time-stamp server to countersign, so the signature stays valid after the
# certificate expires.
set -euo pipefail
timestamp=()
if [ "${1:-}" = --timestamp ]; then
  [ $# -ge 2 ] || { echo "--timestamp needs a URL" >&2; exit 2; }
  timestamp=(-ts "$2")
  shift 2
fi
if [ $# -lt 2 ]; then
  echo "usage: TSL_SIGN_PASSWORD=... $0 [--timestamp URL] CERT.pfx FILE..." >&2
  exit 2
fi
if [ -z "${TSL_SIGN_PASSWORD+set}" ]; then
  echo "TSL_SIGN_PASSWORD is not set: it holds the password of $1" >&2
  exit 2
fi
if ! command -v osslsigncode >/dev/null; then
  echo "osslsigncode is missing: run scripts/install-deps.sh" >&2
  exit 1
fi
pfx=$1
shift
for file in "$@"; do
  # Signed into a copy, so that a failure leaves no half-written file behind.
  rm -f "$file.signed"
  printf '%s' "$TSL_SIGN_PASSWORD" |
    osslsigncode sign -pkcs12 "$pfx" -readpass /dev/stdin -h sha256 \
      -n "Tessaline Tally Connector" "${timestamp[@]}" -in "$file" -out "$file.signed" >/dev/null
  mv -f "$file.signed" "$file"
done
