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

# The lookup. For now it reads the dictionary files directly; through the
# running service it will be:  "$bin/vandrel" lookup WORD
echo
echo "== Looking up \"house\", \"degree\" and \"spring\" (English-Russian)"
"$bin/vandrel" dic lookup "$bin/Dic/EnRu.dic" house degree spring
echo
echo "== Looking up \"Haus\" (no exact match: the nearest word is shown) and \"bank\" (English-German)"
"$bin/vandrel" dic lookup "$bin/Dic/EnDe.dic" bank Haus || true
