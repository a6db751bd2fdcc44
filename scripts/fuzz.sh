#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz and runs each for a
# bounded time (default 20 s each; FUZZ_SECONDS overrides) on a copy of its
# stored corpus. New findings are left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
seconds=${FUZZ_SECONDS:-20}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVANDREL_FUZZ=ON -DVANDREL_TESTS=OFF \
  -DVANDREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2
mkdir -p build-fuzz/findings
status=0
for target in $(find build-fuzz/bin -maxdepth 1 -name '*_fuzz' -type f | sort); do
  name=$(basename "$target" _fuzz)
  corpus=$(find fuzz -type d -path "*/corpus/$name" | head -n 1)
  work=build-fuzz/corpus/$name
  mkdir -p "$work"
  [ -n "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "== fuzzing $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
       -artifact_prefix=build-fuzz/findings/"$name"- "$work" >build-fuzz/"$name".log 2>&1; then
    echo "!! $name found a failure:"; tail -n 40 build-fuzz/"$name".log; status=1
  else
    tail -n 1 build-fuzz/"$name".log
  fi
done
exit $status
