#!/usr/bin/env bash
# Word updates end to end through the real service: a synthetic dictionary
# of N words (default 500,000, plain and compressed), then
#   - `vandrel update` of 1,000 changes (600 new, 300 replaced, 100 removed),
#   - one unbracketed `vandrel put`,
# each timed as the command's wall time (connect, send, merge, rename,
# reopen). Runtime folders on tmpfs (/dev/shm when present).
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
words=${WORDS:-500000}
[ -x "$bin/vandrel" ] || { echo "no $bin/vandrel: build first (bench/run.sh)" >&2; exit 1; }
base=/dev/shm
[ -d $base ] || base=${TMPDIR:-/tmp}
tmp=$(mktemp -d "$base/vandrel-bench-update.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/dic" "$tmp/state" "$tmp/run"
chmod 700 "$tmp/run"
export XDG_STATE_HOME=$tmp/state XDG_RUNTIME_DIR=$tmp/run

# Existing words are the even numbers, new ones odd.
awk -v n="$words" 'BEGIN { for (i = 0; i < n; i++) printf "w%07d\tmeaning of word %d, with some more text\n", 2 * i, i }' \
  > "$tmp/src.tsv"
awk -v n="$words" 'BEGIN {
  srand(7)
  for (i = 0; i < 600; i++) printf "w%07d\tnew word %d\n", 2 * int(rand() * n) + 1, i
  for (i = 0; i < 300; i++) printf "w%07d\treplaced %d\n", 2 * int(rand() * n), i
  for (i = 0; i < 100; i++) printf "w%07d\t\n", 2 * int(rand() * n)
}' > "$tmp/changes.tsv"

"$bin/vandrel" dic compile "$tmp/src.tsv" "$tmp/dic/Plain.dic" > /dev/null
"$bin/vandrel" dic compile "$tmp/src.tsv" "$tmp/dic/Packed.dic" --compress > /dev/null
# Every command starts (or finds) the service with this folder.
printf '#!/bin/sh\nexec "%s" "%s"\n' "$bin/vandrel-service" "$tmp/dic" > "$tmp/service.sh"
chmod +x "$tmp/service.sh"
export VANDREL_SERVICE=$tmp/service.sh

TIMEFORMAT='%R'
printf '%-8s %9s %-28s %8s\n' dict words operation "wall s"
for d in Plain Packed; do
  t=$( { time "$bin/vandrel" update $d "$tmp/changes.tsv" > /dev/null; } 2>&1 ) || { echo "$t" >&2; exit 1; }
  printf '%-8s %9d %-28s %8s\n' $d "$words" "update: 1,000 changes" "$t"
  t=$( { time "$bin/vandrel" put $d zzzz "one more" > /dev/null; } 2>&1 ) || { echo "$t" >&2; exit 1; }
  printf '%-8s %9d %-28s %8s\n' $d "$words" "put: one word, unbracketed" "$t"
done
echo "  command: WORDS=$words bench/tools/run_update.sh (vandrel update DICT changes.tsv; vandrel put DICT zzzz ...)"
