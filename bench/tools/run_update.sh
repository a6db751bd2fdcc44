#!/usr/bin/env bash
# Word updates end to end through the real service: a synthetic dictionary
# of N words (default 500,000, plain and compressed) and, when Debian's
# dict-freedict-deu-eng is installed, deu-eng compiled compressed and
# scrambled; then
#   - `vandrel update` of 1,000 changes (600 new, 300 replaced, 100 removed),
#   - one unbracketed `vandrel put`,
#   - `vandrel update` of 100,000 changes (60,000 / 30,000 / 10,000; the
#     synthetic dictionaries only),
# each timed as the command's wall time (connect, send, merge, rename,
# reopen). Every merge runs twice: as the service does it (the stored
# bodies of kept words copied) and with VANDREL_MERGE_REENCODE=1 in the
# service's environment, a switch for this benchmark alone that makes the
# merge decode and encode every kept word instead. Each mode has a session
# and a service of its own. Runtime folders on tmpfs (/dev/shm when
# present).
#   WORDS=N      synthetic dictionary size
#   FREEDICT=0   leave deu-eng out
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
words=${WORDS:-500000}
[ -x "$bin/vandrel" ] || { echo "no $bin/vandrel: build first (bench/run.sh)" >&2; exit 1; }
base=/dev/shm
[ -d $base ] || base=${TMPDIR:-/tmp}
tmp=$(mktemp -d "$base/vandrel-bench-update.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/dic" "$tmp/state"
export XDG_STATE_HOME=$tmp/state

# Existing words are the even numbers, new ones odd.
awk -v n="$words" 'BEGIN { for (i = 0; i < n; i++) printf "w%07d\tmeaning of word %d, with some more text\n", 2 * i, i }' \
  > "$tmp/src.tsv"
changes() {  # COUNT SEED: 60% new, 30% replaced, 10% removed
  awk -v n="$words" -v c="$1" -v seed="$2" 'BEGIN {
    srand(seed)
    for (i = 0; i < c * 0.6; i++) printf "w%07d\tnew word %d\n", 2 * int(rand() * n) + 1, i
    for (i = 0; i < c * 0.3; i++) printf "w%07d\treplaced %d\n", 2 * int(rand() * n), i
    for (i = 0; i < c * 0.1; i++) printf "w%07d\t\n", 2 * int(rand() * n)
  }'
}
changes 1000 7 > "$tmp/changes-1k.tsv"
changes 100000 8 > "$tmp/changes-100k.tsv"

"$bin/vandrel" dic compile "$tmp/src.tsv" "$tmp/dic/Plain.dic" > /dev/null
"$bin/vandrel" dic compile "$tmp/src.tsv" "$tmp/dic/Packed.dic" --compress > /dev/null
dicts="Plain Packed"
freedict=/usr/share/dictd/freedict-deu-eng.index
if [ "${FREEDICT:-1}" != 0 ] && [ -f "$freedict" ]; then
  "$bin/vandrel" dic compile "$freedict" "$tmp/dic/DeuEng.dic" --compress --scramble -q
  "$bin/vandrel" dic dump "$tmp/dic/DeuEng.dic" -o "$tmp/deu.tsv"
  # deu-eng changes from its own words: 600 new, 300 replaced, 100 removed.
  grep -v '^#' "$tmp/deu.tsv" | cut -f1 | grep -v '\\' | awk 'length($0) <= 40' \
    | shuf -n 1000 --random-source=<(yes) > "$tmp/deu-words"
  awk 'NR <= 600 { printf "%sqx\tnew word %d\n", $0, NR; next }
       NR <= 900 { printf "%s\treplaced %d\n", $0, NR; next }
       { printf "%s\t\n", $0 }' "$tmp/deu-words" > "$tmp/changes-deu.tsv"
  dicts="$dicts DeuEng"
fi
# Every original is kept, so that each mode starts from the same files.
cp -r "$tmp/dic" "$tmp/orig"

TIMEFORMAT='%R'
printf '%-7s %8s %-30s %8s %9s\n' dict words operation "copy s" "re-enc s"
declare -A wall
for mode in copy reencode; do
  rm -rf "$tmp/dic" && cp -r "$tmp/orig" "$tmp/dic"
  mkdir -p "$tmp/run-$mode" && chmod 700 "$tmp/run-$mode"
  env=""
  [ $mode = reencode ] && env="VANDREL_MERGE_REENCODE=1"
  printf '#!/bin/sh\nexec env %s "%s" "%s"\n' "$env" "$bin/vandrel-service" "$tmp/dic" > "$tmp/service-$mode.sh"
  chmod +x "$tmp/service-$mode.sh"
  export VANDREL_SERVICE=$tmp/service-$mode.sh VANDREL_RUNTIME_DIR=$tmp/run-$mode
  run() {  # KEY COMMAND...
    local key=$1 t
    shift
    t=$( { time "$bin/vandrel" "$@" > /dev/null; } 2>&1 ) || { echo "$t" >&2; exit 1; }
    wall[$key,$mode]=$t
  }
  for d in $dicts; do
    if [ $d = DeuEng ]; then
      run "$d,update 1,000 changes" update $d "$tmp/changes-deu.tsv"
    else
      run "$d,update 1,000 changes" update $d "$tmp/changes-1k.tsv"
    fi
    run "$d,put: one word, unbracketed" put $d zzzz "one more"
    [ $d = DeuEng ] || run "$d,update 100,000 changes" update $d "$tmp/changes-100k.tsv"
  done
done
for d in $dicts; do
  n=$words
  [ $d = DeuEng ] && n=$(grep -vc '^#' "$tmp/deu.tsv")
  for op in "update 1,000 changes" "put: one word, unbracketed" "update 100,000 changes"; do
    [ -n "${wall[$d,$op,copy]:-}" ] || continue
    printf '%-7s %8d %-30s %8s %9s\n' $d "$n" "$op" "${wall[$d,$op,copy]}" "${wall[$d,$op,reencode]}"
  done
done
echo "  command: WORDS=$words bench/tools/run_update.sh (vandrel update DICT changes.tsv; vandrel put DICT zzzz ...)"
echo "  copy: stored bodies of kept words copied; re-enc: VANDREL_MERGE_REENCODE=1 (decode and encode every kept word)"
