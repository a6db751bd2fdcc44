#!/usr/bin/env bash
# Two-process request/answer round trips through transfer buffers: a request
# with one integer answered with a 32-character and with a 64 KiB wide
# string, and a page of 2,000 words answered into a fresh channel (with the
# number of buffers its growth made); median and p99 microseconds and
# exchanges per second.
# Uses the Release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${VANDREL_BUILD:-$PWD/build-bench}
"$build/bin/transfer_bench" "$@"
