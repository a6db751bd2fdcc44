#!/usr/bin/env bash
# Formats every C++ source and header of the project with its .clang-format.
# --check changes nothing: it lists the files that differ and fails if any do.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.cc')
if [ "${1:-}" = "--check" ]; then
  if ! out=$(clang-format --dry-run -Werror "${files[@]}" 2>&1); then
    echo "$out" | grep -o '^[^:]*\.\(cpp\|h\|cc\):' | sort -u | sed 's/:$//' |
      sed 's/^/not formatted (run scripts\/format.sh): /' >&2
    exit 1
  fi
  echo "formatting: ${#files[@]} files checked"
  exit 0
fi
clang-format -i "${files[@]}"
