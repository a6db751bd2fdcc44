#!/usr/bin/env bash
# Word updates into a real dictionary: Debian's dict-freedict-deu-eng is
# compiled and dumped; 1,000 change lines are drawn from the dump (599 new
# words, one of them given twice, 300 replaced translations, 100
# deletions); `vandrel update` applies them through the real service; the
# new dump must equal the merge that python3 computes from the two
# tab-separated files alone. Exit 77 (skip) without the package.
#
# Usage: word_update_freedict.sh VANDREL VANDREL_SERVICE [HEADWORDS]
# HEADWORDS > 0 keeps only the index's first lines (the sanitizer build).
set -euo pipefail
vandrel=$1
service=$2
limit=${3:-0}
dir=${FREEDICT_DIR:-/usr/share/dictd}
index=$dir/freedict-deu-eng.index
data=$dir/freedict-deu-eng.dict.dz
if [ ! -f "$index" ] || [ ! -f "$data" ]; then
  echo "SKIP: $index or $data not found (Debian package dict-freedict-deu-eng)"
  exit 77
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-update-freedict.XXXXXX")
cleanup() {
  # The service ends when its last client has gone; never leave one behind.
  # (only while that pid is still our service: its command line names $tmp).
  if [ -s "$tmp/service.pid" ]; then
    pid=$(cat "$tmp/service.pid")
    if tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -qF "$tmp/dic"; then kill -9 "$pid" || true; fi
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$tmp/dic" "$tmp/state" "$tmp/run"
chmod 700 "$tmp/run"
export XDG_STATE_HOME=$tmp/state VANDREL_RUNTIME_DIR=$tmp/run
printf '#!/bin/sh\necho $$ > "%s"\nexec "%s" "%s"\n' "$tmp/service.pid" "$service" "$tmp/dic" > "$tmp/service.sh"
chmod +x "$tmp/service.sh"
export VANDREL_SERVICE=$tmp/service.sh
if [ "$limit" -gt 0 ]; then
  head -n "$limit" "$index" > "$tmp/freedict-deu-eng.index"
  grep -e '^00-database-' -e '^00database' "$index" >> "$tmp/freedict-deu-eng.index" || true
  ln -s "$data" "$tmp/freedict-deu-eng.dict.dz"
  index=$tmp/freedict-deu-eng.index
fi

"$vandrel" dic compile "$index" "$tmp/dic/DeuEng.dic" -q
"$vandrel" dic dump "$tmp/dic/DeuEng.dic" -o "$tmp/before.tsv"

# The changes, drawn from the dump with a fixed seed. Words are kept short
# (the update table holds 50 bytes) and free of escapes.
python3 - "$tmp/before.tsv" "$tmp/changes.tsv" <<'EOF'
import random, sys
words = [l.split('\t', 1)[0] for l in open(sys.argv[1], encoding='utf-8')
         if not l.startswith('#') and '\t' in l]
fit = [w for w in words if 0 < len(w) <= 40 and '\\' not in w]
r = random.Random(15)
picked = r.sample(fit, 1000)
with open(sys.argv[2], 'w', encoding='utf-8') as out:
    for i, w in enumerate(picked[:599]):
        out.write('%sqx\tnew word %d\n' % (w, i))
    out.write('%sqx\tand a second meaning\n' % picked[0])  # joins "A; B"
    for i, w in enumerate(picked[600:900]):
        out.write('%s\treplaced translation %d\n' % (w, i))
    for w in picked[900:]:
        out.write('%s\t\n' % w)
EOF
[ "$(wc -l < "$tmp/changes.tsv")" -eq 1000 ] || fail "the change file holds $(wc -l < "$tmp/changes.tsv") lines"

"$vandrel" update DeuEng "$tmp/changes.tsv" > "$tmp/update.out" 2>&1 || { cat "$tmp/update.out" >&2; fail "vandrel update"; }
"$vandrel" dic dump "$tmp/dic/DeuEng.dic" -o "$tmp/after.tsv"
[ ! -e "$tmp/dic/DeuEng.tmp" ] || fail "the merge output was left behind"

# The expected merge: the changes of one update collected per word (a put
# joins a stored translation with "; ", an empty line deletes, a put after
# a deletion stands alone), then applied to the old words.
python3 - "$tmp/before.tsv" "$tmp/changes.tsv" "$tmp/expected.tsv" <<'EOF'
import sys
old = {}
for l in open(sys.argv[1], encoding='utf-8'):
    if l.startswith('#') or '\t' not in l:
        continue
    w, t = l.rstrip('\n').split('\t', 1)
    old[w] = t
rows = {}
for l in open(sys.argv[2], encoding='utf-8'):
    w, t = l.rstrip('\n').split('\t', 1)
    if w in rows and t and rows[w]:
        rows[w] = rows[w] + '; ' + t
    else:
        rows[w] = t
for w, t in rows.items():
    if t:
        old[w] = t
    else:
        old.pop(w, None)
with open(sys.argv[3], 'w', encoding='utf-8') as out:
    for w, t in old.items():
        out.write('%s\t%s\n' % (w, t))
EOF
grep -v '^#' "$tmp/after.tsv" | LC_ALL=C sort > "$tmp/a"
LC_ALL=C sort "$tmp/expected.tsv" > "$tmp/b"
if ! cmp -s "$tmp/a" "$tmp/b"; then
  diff "$tmp/a" "$tmp/b" | head -20 >&2
  fail "the dump after the update differs from the expected merge"
fi
[ "$(grep '^#!name' "$tmp/before.tsv")" = "$(grep '^#!name' "$tmp/after.tsv")" ] || fail "the name changed"
echo "deu-eng: $(grep -vc '^#' "$tmp/before.tsv") words, 1,000 changes, $(wc -l < "$tmp/a") words after the update: OK"
