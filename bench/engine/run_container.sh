#!/usr/bin/env bash
# Base container figures: write rates in 64 KiB and 128-byte writes, growth
# to 1 GiB, and open and close of a 1 GiB container, on tmpfs.
# Uses the Release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${VANDREL_BUILD:-$PWD/build-bench}
"$build/bin/container_bench" "$@"
