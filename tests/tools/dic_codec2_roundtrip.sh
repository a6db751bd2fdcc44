#!/usr/bin/env bash
# Compressed dictionaries with a trained body dictionary, end to end through
# `vandrel dic`: compile a generated source compressed (codec 2), dump,
# compile the dump, dump again: the dumps are equal, and equal to the dump
# of the same source compiled without a dictionary (codec 1) and plain.
# `info` names the dictionary; a damaged dictionary page makes lookups of
# long translations fail with the body error and `info -v` say where.
set -euo pipefail
vandrel=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-codec2.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

awk 'BEGIN {
  split("house building home roof door garden street town family dwelling", w, " ")
  split("<n> <v> [arch.] {f} {m} (colloq.)", t, " ")
  print "#!name\tWords"; print "#!short-name\twords"
  print "#!language\tde"; print "#!trans-language\ten"
  for (i = 0; i < 4000; i++) {
    line = sprintf("wort%05d\t\\5wort%05d\\5 ", i, i)
    for (k = 0; k < 8 + i % 19; k++) line = line w[1 + (i * 7 + k * k) % 10] " " t[1 + (i + k) % 6] ", "
    print line "\\nend"
  }
}' > "$tmp/src.tsv"

"$vandrel" dic compile "$tmp/src.tsv" "$tmp/c2.dic" --compress -q
"$vandrel" dic info "$tmp/c2.dic" | grep -q '^version: *5$' || fail "codec-2 file is not version 5"
"$vandrel" dic info "$tmp/c2.dic" | grep -q '^body dictionary: *[0-9]* bytes$' || fail "info shows no dictionary"
"$vandrel" dic dump "$tmp/c2.dic" > "$tmp/c2.1.tsv"
grep -q '^#!compressed' "$tmp/c2.1.tsv" || fail "dump lost the compressed directive"
"$vandrel" dic compile "$tmp/c2.1.tsv" "$tmp/c2b.dic" -q
"$vandrel" dic info "$tmp/c2b.dic" | grep -q '^version: *5$' || fail "recompiled dump is not version 5"
"$vandrel" dic dump "$tmp/c2b.dic" > "$tmp/c2.2.tsv"
cmp "$tmp/c2.1.tsv" "$tmp/c2.2.tsv" || fail "dump of the recompiled codec-2 dump differs"

"$vandrel" dic compile "$tmp/src.tsv" "$tmp/c1.dic" --compress --dictionary-size 0 -q
"$vandrel" dic info "$tmp/c1.dic" | grep -q '^version: *3$' || fail "codec-1 file is not version 3"
"$vandrel" dic info "$tmp/c1.dic" | grep -q '^body dictionary' && fail "codec-1 file shows a dictionary"
"$vandrel" dic compile "$tmp/src.tsv" "$tmp/plain.dic" -q
cmp "$tmp/c2.1.tsv" <("$vandrel" dic dump "$tmp/c1.dic") || fail "codec-1 dump differs"
diff <(grep -v '^#!compressed' "$tmp/c2.1.tsv") <("$vandrel" dic dump "$tmp/plain.dic" | grep -v '^#!compressed') \
  || fail "plain dump differs"
c1=$(stat -c %s "$tmp/c1.dic"); c2=$(stat -c %s "$tmp/c2.dic")
[ "$c2" -lt "$c1" ] || fail "the dictionary did not make the file smaller ($c2 >= $c1)"

# One byte of the dictionary's first page changed: the file still opens,
# long translations fail with the body error, info -v names the body.
offset=$(od -An -t u4 -j 2270 -N 4 "$tmp/c2.dic" | tr -d ' ')
[ "$offset" -gt 0 ] || fail "no dictionary offset in the header"
cp "$tmp/c2.dic" "$tmp/bad.dic"
printf '\x00\x00\x00\x00' | dd of="$tmp/bad.dic" bs=1 seek=$((offset + 100)) conv=notrunc status=none
set +e
out=$("$vandrel" dic lookup "$tmp/bad.dic" wort00007 2>&1); code=$?
set -e
[ $code -ne 0 ] || fail "a body of a damaged dictionary read: $out"
grep -q 'Compressed body is corrupt' <<<"$out" || fail "lookup message: $out"
set +e
out=$("$vandrel" dic info -v "$tmp/bad.dic" 2>&1); code=$?
set -e
[ $code -ne 0 ] || fail "info -v passed a damaged dictionary"
grep -q 'body of record' <<<"$out" || fail "info -v message: $out"
echo "codec-2 round trip: $c2 bytes with the dictionary, $c1 without"
