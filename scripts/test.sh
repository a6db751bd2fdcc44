#!/usr/bin/env bash
# Builds Vandrel and runs every test. --sanitize builds into build-asan with
# AddressSanitizer and UndefinedBehaviorSanitizer. --clang builds with clang
# and clang++ instead of the default compiler, into build-clang (with
# --sanitize as well: build-clang-asan). Extra arguments go to ctest (for
# example --repeat until-fail:20).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build=build
flags=()
sanitize=0
clang=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=1 ;;
    --clang) clang=1 ;;
    *) break ;;
  esac
  shift
done
if [ $clang = 1 ]; then
  build=build-clang
  export CC=clang CXX=clang++
fi
if [ $sanitize = 1 ]; then
  build=$build-asan
  flags=(-DVANDREL_SANITIZE=ON -DVANDREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  # The real-dictionary round trip runs in the plain build; under the
  # sanitizers it would only repeat it ten times slower.
  set -- -LE slow "$@"
fi
cmake -S . -B "$build" -G Ninja -DVANDREL_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$build" -j2
ctest --test-dir "$build" -j2 --output-on-failure "$@"
