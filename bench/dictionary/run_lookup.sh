#!/usr/bin/env bash
# Dictionary lookup figures: FindExact and FindNearest per second against
# std::lower_bound over the same words in memory, and the resident memory the
# reader adds after Open and after 10,000 lookups, on a synthetic dictionary
# of 200,000 generated words (plain and scrambled). Pass .dic files to
# measure those instead (LOOKUP_WORDS sets the synthetic size).
# Uses the Release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${VANDREL_BUILD:-$PWD/build-bench}
"$build/bin/dic_lookup_bench" --words "${LOOKUP_WORDS:-200000}" "$@"
