#!/usr/bin/env bash
# Word-order figures on real English words (/usr/share/dict/words, from the
# Debian package wamerican): nanoseconds per CompareWords call between
# dictionary neighbours, random pairs and inside binary searches, beside the
# table engine's locale comparison of the same words.
# Uses the Release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${VANDREL_BUILD:-$PWD/build-bench}
words=/usr/share/dict/words
if [ ! -f "$words" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wamerican >/dev/null
fi
"$build/bin/compare_words_bench" --words "$words" --benchmark_min_time=1 "$@"
