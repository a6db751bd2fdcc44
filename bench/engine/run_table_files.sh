#!/bin/sh
# Word-update rows through the data, index and BLOB files: inserts with the
# key search, key searches, deletes; per compression mode sizes and times.
# Usage: bench/engine/run_table_files.sh [build folder] [rows, default 100000]
#        [compression modes, default 0123]
set -e
build=${1:-build}
dir=$(mktemp -d /dev/shm/vandrel-table-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$build/bin/table_files_bench" "$dir" "${2:-100000}" "${3:-0123}"
