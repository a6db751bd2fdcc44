#!/usr/bin/env bash
# The client's view of the service: a cold start to a connected client, the
# connect and disconnect round trip, a bare ping, and the resident memory of
# an idle service. Uses the release build in $VANDREL_BUILD (bench/run.sh
# sets it).
set -euo pipefail
: "${VANDREL_BUILD:?set VANDREL_BUILD to a build folder (bench/run.sh does)}"
bin=$VANDREL_BUILD/bin
export VANDREL_SERVICE=$bin/vandrel-service
"$bin/client_bench" --benchmark_min_time=0.5

# An idle service: started with /stay in a private namespace, measured once
# it has opened its manager window, then stopped.
ns=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
chmod 700 "$ns"
export VANDREL_RUNTIME_DIR=$ns
(cd "$ns" && exec "$bin/vandrel-service" /stay) &
pid=$!
for _ in $(seq 200); do
  [ -n "$(ls -A "$ns/name" 2>/dev/null)" ] && break
  sleep 0.01
done
sleep 0.2
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
echo "idle service resident memory: ${rss} KiB (process $pid)"
kill "$pid"
wait "$pid" 2>/dev/null || true
rm -rf "$ns"
