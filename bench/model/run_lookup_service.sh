#!/usr/bin/env bash
# Lookups through the service, on real dictionaries compiled here from the
# dictd packages dict-freedict-deu-eng and dict-wn (installed when missing):
#   - lookup_service_bench over three open dictionaries (German-English,
#     WordNet compressed, WordNet plain): median and 99th-percentile
#     microseconds and lookups per second of CR_LOCATE + CR_GET_TRANS over
#     one connection, of one CR_LOOKUP each, against the same lookups on
#     TDicTable in-process;
#   - the wall time of the whole `vandrel lookup WORD` command, with the
#     service already running and with the command starting it;
#   - the service's resident memory with ten large dictionaries open (five
#     copies of each compiled file under their own names, so ten files are
#     mapped), before and after 10,000 lookups.
# Uses the release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
dictd=${DICTD_DIR:-/usr/share/dictd}
for p in vandrel vandrel-service lookup_service_bench; do
  [ -x "$bin/$p" ] || { echo "no $bin/$p: build first (bench/run.sh)" >&2; exit 1; }
done

missing=()
for p in dict-freedict-deu-eng dict-wn; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-bench-lookup.XXXXXX")
namespaces=()
cleanup() {
  rm -f "$tmp/hold"
  wait
  rm -rf "$tmp" "${namespaces[@]}"
}
trap cleanup EXIT
mkdir -p "$tmp/lookup" "$tmp/memory" "$tmp/state"
export XDG_STATE_HOME=$tmp/state
export VANDREL_SERVICE=$bin/vandrel-service

echo "compiling the dictionaries..."
"$bin/vandrel" dic compile "$dictd/freedict-deu-eng.index" "$tmp/lookup/DeEn.dic" --compress -q
"$bin/vandrel" dic compile "$dictd/wn.index" "$tmp/lookup/Wn.dic" --compress -q
"$bin/vandrel" dic compile "$dictd/wn.index" "$tmp/lookup/WnPlain.dic" -q
for i in 1 2 3 4 5; do
  cp "$tmp/lookup/DeEn.dic" "$tmp/memory/DeEn$i.dic"
  cp "$tmp/lookup/Wn.dic" "$tmp/memory/Wn$i.dic"
done
ls -l "$tmp/lookup" | awk 'NR > 1 {printf "  %-12s %10d bytes\n", $9, $5}'

# A private session namespace for each part, so that no other service (and
# no developer's) is met; on tmpfs, where the shared memory is.
new_namespace() {
  export VANDREL_RUNTIME_DIR
  VANDREL_RUNTIME_DIR=$(mktemp -d /dev/shm/vandrel-bench-ns.XXXXXX 2>/dev/null || mktemp -d "$tmp/ns.XXXXXX")
  namespaces+=("$VANDREL_RUNTIME_DIR")
  chmod 700 "$VANDREL_RUNTIME_DIR"
}
wait_service() {  # $1: 0 = until one runs, 1 = until none runs
  for _ in $(seq 1000); do
    set +e
    "$bin/vandrel" status >/dev/null 2>&1
    local rc=$?
    set -e
    if [ "$1" = 0 ] && [ $rc = 0 ]; then return 0; fi
    if [ "$1" = 1 ] && [ $rc = 1 ]; then return 0; fi
    sleep 0.01
  done
  echo "the service did not $([ "$1" = 0 ] && echo start || echo end)" >&2
  exit 1
}
median_ms() { sort -n | awk '{a[NR] = $1} END {printf "%.1f", a[int((NR + 1) / 2)] / 1e6}'; }

echo
echo "== Lookups through the service against the tables in-process"
new_namespace
"$bin/lookup_service_bench" --dir "$tmp/lookup" --lookups 10000 DeEn.dic Wn.dic WnPlain.dic

echo
echo "== The whole \`vandrel lookup WORD\` command (median of 20 runs, three dictionaries)"
words=(house Haus tree Baum water Wasser light Licht house Haus tree Baum water Wasser light Licht house Haus tree Baum)
new_namespace
# A client that stays connected keeps the service running between commands.
touch "$tmp/hold"
"$bin/lookup_service_bench" --dir "$tmp/lookup" --hold "$tmp/hold" &
holder=$!
wait_service 0
times=()
for w in "${words[@]}"; do
  a=$(date +%s%N)
  "$bin/vandrel" lookup "$w" >/dev/null || true
  b=$(date +%s%N)
  times+=($((b - a)))
done
echo "  service running:     $(printf '%s\n' "${times[@]}" | median_ms) ms"
rm "$tmp/hold"
wait "$holder"

# Started by the command: the service program, given the same folder.
cat > "$tmp/service" <<WRAP
#!/bin/sh
exec "$bin/vandrel-service" "$tmp/lookup"
WRAP
chmod +x "$tmp/service"
new_namespace
times=()
for w in "${words[@]}"; do
  wait_service 1
  a=$(date +%s%N)
  VANDREL_SERVICE=$tmp/service "$bin/vandrel" lookup "$w" >/dev/null || true
  b=$(date +%s%N)
  times+=($((b - a)))
done
echo "  service auto-start:  $(printf '%s\n' "${times[@]}" | median_ms) ms"
wait_service 1

echo
echo "== Service memory with ten large dictionaries open"
new_namespace
"$bin/lookup_service_bench" --memory --dir "$tmp/memory" --lookups 10000 \
  DeEn1.dic DeEn2.dic DeEn3.dic DeEn4.dic DeEn5.dic Wn1.dic Wn2.dic Wn3.dic Wn4.dic Wn5.dic
