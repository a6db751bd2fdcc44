#!/usr/bin/env bash
# `vandrel dic` end to end. For each sample source: compile, dump, compile
# the dump, dump again; the dumps must be equal, the first dump must hold
# exactly the source's entries, and `info` must agree on both files. Then
# lookups, the summary counts of the merge and length rules, and failures:
# a bad source, bad arguments and a damaged file fail with a message and
# leave no file behind (an existing output stays as it was).
set -euo pipefail
vandrel=$1
samples=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-dic-cli.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
entries() { grep -v '^#' "$1" | grep -v '^$' | LC_ALL=C sort; }
info() { "$vandrel" dic info "$1" | grep -v -e '^created:' -e '^file:'; }

for s in en-ru en-de; do
  "$vandrel" dic compile "$samples/$s.tsv" "$tmp/$s.dic" -q
  "$vandrel" dic dump "$tmp/$s.dic" > "$tmp/$s.1.tsv"
  "$vandrel" dic compile "$tmp/$s.1.tsv" "$tmp/$s.2.dic" -q
  "$vandrel" dic dump "$tmp/$s.2.dic" -o "$tmp/$s.2.tsv"
  cmp "$tmp/$s.1.tsv" "$tmp/$s.2.tsv" || fail "$s: dump of the recompiled dump differs"
  diff <(entries "$samples/$s.tsv") <(entries "$tmp/$s.1.tsv") || fail "$s: dump entries differ from the source"
  diff <(grep '^#!' "$samples/$s.tsv") <(grep '^#!' "$tmp/$s.1.tsv") || fail "$s: directives differ"
  diff <(info "$tmp/$s.dic") <(info "$tmp/$s.2.dic") || fail "$s: info differs"
  [ -z "$(ls "$tmp" | grep '\.tmp$' || true)" ] || fail "temporary file left"
done
info "$tmp/en-ru.dic" | grep -q '^scrambled: *yes' || fail "en-ru not scrambled"
info "$tmp/en-ru.dic" | grep -q '^words: *[0-9]\{3\}$' || fail "en-ru word count"

# Lookups: exact (case does not matter), nearest, raw.
out=$("$vandrel" dic lookup "$tmp/en-ru.dic" HOUSE)
grep -q 'дом' <<<"$out" || fail "lookup HOUSE: $out"
set +e
out=$("$vandrel" dic lookup "$tmp/en-de.dic" housf); code=$?
set -e
[ $code -eq 1 ] || fail "lookup of a missing word: exit $code"
grep -q 'not found; nearest' <<<"$out" || fail "nearest: $out"
"$vandrel" dic lookup "$tmp/en-de.dic" --raw degree | grep -qF '\4°\4' || fail "raw lookup"

# The rules, reported with counts: a merge of "e"/"é", an empty word, a
# 1025-byte word, a Cyrillic word in an English dictionary.
long=$(printf 'x%.0s' $(seq 1025))
printf 'e\tone\n\xc3\xa9\ttwo\n\tempty\n%s\tlong\n\xd0\xb4\xd0\xbe\xd0\xbc\thouse\n' "$long" > "$tmp/rules.tsv"
out=$("$vandrel" dic compile "$tmp/rules.tsv" "$tmp/rules.dic" --lang en --trans-lang en --allow-loss)
grep -q '2 words from 5 entries' <<<"$out" || fail "rules summary: $out"
grep -q '1 entry merged' <<<"$out" || fail "merge count: $out"
grep -q '2 entries skipped' <<<"$out" || fail "length count: $out"
grep -q '1 word changed by the word code page 1252' <<<"$out" || fail "code page count: $out"
"$vandrel" dic dump "$tmp/rules.dic" | grep -q "^e	one; two$" || fail "merged entry"

# Failures leave an existing output untouched and no temporary file.
cp "$tmp/en-ru.dic" "$tmp/keep.dic"
printf 'good\tline\nno tab\n' > "$tmp/bad.tsv"
set +e
err=$("$vandrel" dic compile "$tmp/bad.tsv" "$tmp/en-ru.dic" 2>&1); code=$?
set -e
[ $code -eq 1 ] || fail "bad source: exit $code"
grep -q 'bad.tsv:2: no TAB' <<<"$err" || fail "bad source message: $err"
cmp "$tmp/en-ru.dic" "$tmp/keep.dic" || fail "failed compile changed the old file"
[ ! -e "$tmp/en-ru.dic.tmp" ] || fail "temporary file left after a failure"

expect_exit() {
  local want=$1; shift
  set +e
  "$@" >/dev/null 2>"$tmp/stderr"; local code=$?
  set -e
  [ $code -eq "$want" ] || fail "$* exited $code, wanted $want: $(cat "$tmp/stderr")"
}
expect_exit 2 "$vandrel" dic
expect_exit 2 "$vandrel" dic frobnicate
expect_exit 2 "$vandrel" dic compile "$samples/en-ru.tsv"
expect_exit 2 "$vandrel" dic compile "$samples/en-ru.tsv" "$tmp/x.dic" --lang
expect_exit 2 "$vandrel" dic compile "$samples/en-ru.tsv" "$tmp/x.dic" --lang xx
expect_exit 2 "$vandrel" dic lookup "$tmp/en-ru.dic"
expect_exit 1 "$vandrel" dic compile "$samples/en-ru.tsv" "$tmp/x.dic" --lang ja
grep -q 'not supported' "$tmp/stderr" || fail "CJK message"
expect_exit 1 "$vandrel" dic compile "$tmp/missing.tsv" "$tmp/x.dic"
[ ! -e "$tmp/x.dic" ] || fail "output written after a failure"
head -c 8192 /dev/urandom > "$tmp/noise.dic"
expect_exit 1 "$vandrel" dic info "$tmp/noise.dic"
grep -q 'is not base' "$tmp/stderr" || fail "damaged file message: $(cat "$tmp/stderr")"
# Parameter strings from the command line win over the source's; one that
# does not fit the parameters page is refused, never cut.
"$vandrel" dic compile "$samples/en-de.tsv" "$tmp/named.dic" -q --name "Mein Wörterbuch" --no-compress --scramble
info "$tmp/named.dic" | grep -q '^name: *Mein Wörterbuch$' || fail "--name"
info "$tmp/named.dic" | grep -q '^compressed: *no$' || fail "--no-compress"
info "$tmp/named.dic" | grep -q '^scrambled: *yes$' || fail "--scramble"
expect_exit 1 "$vandrel" dic compile "$samples/en-de.tsv" "$tmp/y.dic" --description "$long$long$long$long"
grep -q 'description of 4100 characters is too long' "$tmp/stderr" || fail "long description: $(cat "$tmp/stderr")"
[ ! -e "$tmp/y.dic" ] || fail "output written with a too long description"
expect_exit 0 "$vandrel" dic compile --help
echo "dic CLI round trip: OK"
