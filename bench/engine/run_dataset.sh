#!/usr/bin/env bash
# Tables through the dataset layer against a std::map floor; the database
# lives on tmpfs. Usage: bench/engine/run_dataset.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
cmake --build "$build" -j2 --target dataset_bench >/dev/null
dir=$(mktemp -d /dev/shm/vandrel-dataset-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$build"/bin/dataset_bench "$dir"
