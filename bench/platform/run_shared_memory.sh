#!/usr/bin/env bash
# Named shared memory (create, open, map, release) and granule views against
# plain open/mmap. Uses the release build in $VANDREL_BUILD (bench/run.sh
# sets it).
set -euo pipefail
: "${VANDREL_BUILD:?set VANDREL_BUILD to a build folder (bench/run.sh does)}"
"$VANDREL_BUILD/bin/shared_memory_bench" --benchmark_min_time=0.2
