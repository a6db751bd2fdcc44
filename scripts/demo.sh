#!/usr/bin/env bash
# The first look at Vandrel: installs what the build needs, builds
# everything into build/ (which compiles the sample dictionaries into
# build/bin/Dic), and looks a few words up.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2
bin=build/bin

echo
echo "== Sample dictionaries"
for dic in "$bin"/Dic/*.dic; do
  "$bin/vandrel" dic info "$dic" | grep -e '^file:' -e '^words:' -e '^name:'
done

# The lookups go through the service: each command finds it, or starts it
# (it serves the dictionaries in build/bin/Dic and ends with its last
# client).
echo
echo "== The dictionaries the service offers"
"$bin/vandrel" list -l
echo
echo "== Looking up \"house\" in every dictionary, \"degree\" and \"spring\" in English-Russian"
"$bin/vandrel" lookup house
"$bin/vandrel" lookup degree -d EnRu
"$bin/vandrel" lookup spring -d EnRu
echo
echo "== \"hous\" is no word: the nearest is shown; the word list from \"ban\" on"
"$bin/vandrel" lookup hous -d EnDe || true
"$bin/vandrel" words ban -n 5
