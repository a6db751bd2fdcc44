#!/usr/bin/env bash
# `vandrel dic compile` on Debian's dict-freedict-deu-eng (installed when
# missing): wall time, processor time and peak resident memory (GNU time)
# of a plain compile, a compressed one without a body dictionary (codec 1)
# and one with a trained dictionary (codec 2); the files' sizes against
# dictd's .index + .dict.dz; then the decompression time of one body in
# the two compressed files (body_decompress_bench). Everything is written
# under /dev/shm (memory), so the disk is not measured.
# Uses the Release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
dictd=${DICTD_DIR:-/usr/share/dictd}
name=${COMPILE_DICT:-freedict-deu-eng}
[ -x "$bin/vandrel" ] || { echo "no $bin/vandrel: build first (bench/run.sh)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, package time)" >&2; exit 1; }
if [ ! -f "$dictd/$name.index" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "dict-$name" >/dev/null
fi
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
tmp=$(mktemp -d "$shm/vandrel-bench-compile.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
export TMPDIR=$tmp VANDREL_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$tmp/runtime"

index=$dictd/$name.index
dz=$dictd/$name.dict.dz
peer=$(( $(stat -c %s "$index") + $(stat -c %s "$dz") ))
echo "== vandrel dic compile $index OUT.dic [options]   ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
printf '%-10s %-28s %7s %7s %8s %11s %6s\n' file options "wall s" "cpu s" "peak MB" "bytes" "/dictd"
run() {
  local label=$1; shift
  local out=$tmp/$label.dic
  /usr/bin/time -f '%e %U %S %M' -o "$tmp/time" "$bin/vandrel" dic compile "$index" "$out" -q "$@"
  read -r wall user sys rss < "$tmp/time"
  local size
  size=$(stat -c %s "$out")
  awk -v l="$label" -v o="${*:-(none)}" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" -v z="$size" -v p="$peer" \
    'BEGIN { printf "%-10s %-28s %7.2f %7.2f %8.0f %11d %6.2f\n", l, o, w, u + s, r / 1024, z, z / p }'
}
run plain
run codec1 --compress --dictionary-size 0
run codec2 --compress
echo "dictd      .index + .dict.dz                                           $peer   1.00"
echo "  wall: elapsed; cpu: user + system of all threads; peak MB: maximum resident set"
echo "  load average after: $(cut -d' ' -f1-3 /proc/loadavg) (a loaded machine stretches wall time)"

if [ -x "$bin/body_decompress_bench" ]; then
  echo
  echo "== decompression of one body (mean of ${REPEAT:-20} runs per body; median over the bodies)"
  "$bin/body_decompress_bench" --repeat "${REPEAT:-20}" "$tmp/codec1.dic" "$tmp/codec2.dic"
else
  echo "(no $bin/body_decompress_bench: decompression figures skipped)"
fi
