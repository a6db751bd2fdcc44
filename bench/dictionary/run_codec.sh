#!/usr/bin/env bash
# Body codec figures on the translations of a real dictionary (German words,
# English translations): encode/decode throughput, the share of long bodies,
# stored size per compression level, decompression time per body.
# Uses the Release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${VANDREL_BUILD:-$PWD/build-bench}
index=/usr/share/dictd/freedict-deu-eng.index
dict=/usr/share/dictd/freedict-deu-eng.dict.dz
if [ ! -f "$index" ] || [ ! -f "$dict" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq dict-freedict-deu-eng >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gzip -dc "$dict" >"$work/deu-eng.dict"
"$build/bin/codec_bench" --index "$index" --data "$work/deu-eng.dict" --sample "${CODEC_SAMPLE:-20000}" \
  --benchmark_min_time=2 "$@"
