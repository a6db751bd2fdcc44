#!/usr/bin/env bash
# Compile throughput of `vandrel dic compile` on two real dictd dictionaries
# (Debian's dict-freedict-deu-eng and dict-wn, installed when missing):
# entries and megabytes of source (index + decompressed definitions) per
# second, plain and with compressed bodies; the size of the .dic against the
# dictd files (.dict.dz + .index); then word lookups in the compiled files
# with bench/dictionary's dic_lookup_bench when it is built.
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
dictd=${DICTD_DIR:-/usr/share/dictd}
[ -x "$bin/vandrel" ] || { echo "no $bin/vandrel: build first (bench/run.sh)" >&2; exit 1; }

missing=()
for p in dict-freedict-deu-eng dict-wn; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-bench-compile.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
TIMEFORMAT='%R %U %S'

printf '%-17s %-10s %7s %7s %7s %7s %9s %9s %10s %5s\n' dictionary bodies entries words "wall s" "cpu s" \
  "entries/s" "src MB/s" ".dic bytes" ratio
compiled=()
for name in freedict-deu-eng wn; do
  index=$dictd/$name.index
  dz=$dictd/$name.dict.dz
  entries=$(grep -v -e '^00-database-' -e '^00database' "$index" | grep -c .)
  source_bytes=$(( $(stat -c %s "$index") + $(gzip -dc "$dz" | wc -c) ))
  packed_bytes=$(( $(stat -c %s "$index") + $(stat -c %s "$dz") ))
  for mode in plain compressed; do
    flags=()
    [ $mode = compressed ] && flags=(--compress)
    out=$tmp/$name-$mode.dic
    { time "$bin/vandrel" dic compile "$index" "$out" "${flags[@]}" > "$tmp/summary"; } 2> "$tmp/time"
    summary=$(cat "$tmp/summary")
    read -r wall user sys < "$tmp/time"
    words=$(sed -n 's/.*: \([0-9]*\) words from.*/\1/p' <<<"$summary")
    size=$(stat -c %s "$out")
    awk -v n="$name" -v m="$mode" -v e="$entries" -v w="$words" -v r="$wall" -v u="$user" -v y="$sys" \
        -v b="$source_bytes" -v z="$size" -v p="$packed_bytes" 'BEGIN {
      c = u + y
      printf "%-17s %-10s %7d %7d %7.2f %7.2f %9.0f %9.2f %10d %5.2f\n", n, m, e, w, r, c, e / c, b / c / 1e6, z, z / p
    }'
    compiled+=("$out")
  done
  echo "  $name dictd files: $packed_bytes bytes (.index + .dict.dz), $source_bytes bytes uncompressed"
done
echo "  entries/s and src MB/s per CPU second (user + system) of the compile, which reads the"
echo "  dictd files (gzip included), sorts, merges and writes the file; ratio: .dic bytes /"
echo "  (.index + .dict.dz bytes)"
echo "  command: vandrel dic compile $dictd/NAME.index OUT.dic [--compress]"

if [ -x "$bin/dic_lookup_bench" ]; then
  echo
  echo "== dic_lookup_bench on the compiled files"
  "$bin/dic_lookup_bench" "${compiled[@]}"
else
  echo "(no $bin/dic_lookup_bench: lookup figures skipped)"
fi
