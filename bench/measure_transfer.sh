#!/usr/bin/env bash
# Peak memory and throughput of HttpClient for a 64 MiB body over loopback, with and without
# Content-Length, next to the curl command on the same peer. Run it through the sandbox:
#   tools/sandbox/with-sandbox.sh SANDBOX -- bench/measure_transfer.sh build/native-release/bench/bench_net_transfer
set -euo pipefail
program=$1
size=$((64 * 1024 * 1024))
control=$TSL_SANDBOX_CONTROL

for chunked in false true; do
  peer=$(curl -s -X POST "$control/peers" -d '{}' | tr -d '\n ')
  id=$(sed -E 's/.*"id":([0-9]+).*/\1/' <<<"$peer")
  port=$(sed -E 's/.*"port":([0-9]+).*/\1/' <<<"$peer")
  curl -s -X POST "$control/peers/$id/replies" \
    -d "{\"size\":$size,\"fill\":\"0123456789abcdef\",\"chunked\":$chunked,\"repeat\":true}" >/dev/null
  url="http://127.0.0.1:$port/body"
  echo "== chunked: $chunked"
  "$program" "$url" 5
  # The curl command into /dev/null keeps nothing; into a file in memory (/dev/shm) it pays
  # for fresh pages as a body held in memory does.
  for sink in /dev/null /dev/shm/tsl-measure-body; do
    total=0
    for _ in 1 2 3 4 5; do
      total=$(curl -s -o "$sink" -w '%{speed_download}' "$url" | awk -v t="$total" '{print t + $1}')
      [ "$sink" = /dev/null ] || rm -f "$sink"
    done
    awk -v t="$total" -v s="$sink" 'BEGIN { printf "curl command into %s: %.0f MiB/s\n", s, t / 5 / 1048576 }'
  done
  curl -s -X DELETE "$control/peers/$id" >/dev/null
done
