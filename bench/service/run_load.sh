#!/usr/bin/env bash
# Many clients at once against one service: CLIENTS client processes (20 by
# default) each run SESSIONS sessions (500) - connect, base set, two
# dictionaries, cursor, a lookup with both translations and a page of 20
# words, close, disconnect - and check every answer. Prints the errors and
# wrong answers (both must be 0), the throughput, the median and 99th
# percentile per request, and the service's peak descriptors and resident
# memory. The runtime folder and the dictionaries live on tmpfs.
#   bench/service/run_load.sh [CLIENTS [SESSIONS]]
# Uses the build in $VANDREL_BUILD (bench/run.sh sets it; default build/).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${VANDREL_BUILD:-$here/build}
bin=$build/bin
clients=${1:-20}
sessions=${2:-500}
words=2000
page=20

work=$(mktemp -d -p /dev/shm vandrel-load.XXXXXX)
chmod 700 "$work"
svc=
holder=
trap 'kill $holder $svc 2>/dev/null || true; rm -rf "$work"' EXIT
export VANDREL_RUNTIME_DIR=$work/ns
mkdir -m 700 "$work/ns" "$work/dic"

# Two dictionaries whose translations name their dictionary.
for dic in Alpha Beta; do
  for i in $(seq 0 $((words - 1))); do
    w=$(printf 'w%05d' "$i")
    printf '%s\t%s in %s\n' "$w" "$w" "$dic"
  done >"$work/$dic.tsv"
  "$bin/vandrel" dic compile "$work/$dic.tsv" "$work/dic/$dic.dic" --lang en --trans-lang ru >/dev/null
done

(cd "$work" && exec "$bin/vandrel-service" /stay "$work/dic") 2>"$work/service.log" &
svc=$!
for _ in $(seq 500); do
  [ -n "$(ls -A "$work/ns/name" 2>/dev/null)" ] && break
  sleep 0.01
done

# A client that stays connected for the whole run, so that the service,
# which ends with its last client, outlives the moments when every load
# client is between two sessions.
"$bin/vandrel_e2e_peer" vandrel-load-holder >/dev/null 2>&1 &
holder=$!
for _ in $(seq 500); do
  ls "$work/ns/name" 2>/dev/null | grep -q holder && break
  sleep 0.01
done

peak_fd=0
sample() {
  local n
  n=$(ls "/proc/$svc/fd" 2>/dev/null | wc -l || true)
  [ "$n" -gt "$peak_fd" ] && peak_fd=$n
  return 0
}

start=$(date +%s.%N)
pids=()
for c in $(seq "$clients"); do
  "$bin/vandrel_load_peer" "$sessions" 1 "$page" "$words" --times "$work/times.$c" Alpha Beta \
    >"$work/out.$c" 2>"$work/err.$c" &
  pids+=($!)
done
while :; do
  sample
  running=0
  for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && running=1; done
  [ "$running" = 0 ] && break
  sleep 0.2
done
failed=0
for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
end=$(date +%s.%N)
sample
if kill -0 "$svc" 2>/dev/null; then
  rss_peak=$(awk '/^VmHWM/ {print $2}' "/proc/$svc/status")
else
  wait "$svc" && status=0 || status=$?
  echo "THE SERVICE ENDED during the run (status $status); its log:"
  tail -5 "$work/service.log"
  rss_peak=?
fi
shm_files=$(ls "$work/ns/shm" | wc -l)

cat "$work"/out.* | awk -v clients="$clients" -v failed="$failed" \
  '{r += $2; e += $4; w += $6} END {printf "clients %d, requests %d, errors %d, wrong answers %d, failed clients %d\n", clients, r, e, w, failed}'
sort -n "$work"/times.* | awk -v secs="$(echo "$end - $start" | bc)" \
  '{t[NR] = $1} END {printf "throughput %.0f requests/s over %.1f s; per request: median %d us, p99 %d us\n", NR / secs, secs, t[int(NR * 0.5) + 1], t[int(NR * 0.99) + 1]}'
echo "service: peak descriptors $peak_fd, peak resident memory ${rss_peak} KiB; shared-memory files after the run: $shm_files"
head -5 "$work"/err.* 2>/dev/null | grep -v '^$' | head -20 || true
