#!/usr/bin/env bash
# Builds the benchmarks (release build in build-bench) and runs every
# bench/<module>/run*.sh, which print their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANDREL_TESTS=OFF >/dev/null
cmake --build build-bench -j2
export VANDREL_BUILD=$PWD/build-bench
for s in bench/*/run*.sh; do
  echo "== $s"
  bash "$s"
done
