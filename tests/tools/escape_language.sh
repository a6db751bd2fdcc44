#!/usr/bin/env bash
# Translations keep every character, languages come from the text, losses
# are refused:
#  - the samples compile byte for byte as before escapes existed (format
#    version 3; header date and page key masked);
#  - a source with phonetic transcriptions compiles to version 4 and dumps
#    back to the same entries;
#  - a dictd source whose name has no language codes gets its languages
#    from its text, printed in the summary;
#  - words that the chosen word language would store as "?" fail the
#    compile with counts, examples and the language that holds them, and
#    nothing is written unless --allow-loss.
set -euo pipefail
vandrel=$1
samples=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-escape.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The file's SHA-256 with CreateTime (8 bytes at 84) and the page key (128
# bytes at 2141) zeroed: what stays when the same source is compiled again.
masked_sha() {
  { head -c 84 "$1"; head -c 8 /dev/zero; tail -c +93 "$1" | head -c $((2141 - 92));
    head -c 128 /dev/zero; tail -c +2270 "$1"; } | sha256sum | cut -d' ' -f1
}
version() { "$vandrel" dic info "$1" | sed -n 's/^version: *//p'; }

# Files without escapes: exactly what the compiler wrote before.
declare -A golden=(
  [en-ru.compress]=6adf75d3030ae8f60a1938b10e2ac1da7956e0e1bedcfef6f49afda7e30975b4
  [en-de.compress]=a3f44fb7d0cb5d2a1286dea60c7ac27f6a486b7634b4d1e17e75a1b255ebc03f
  [en-ru.no-compress]=3caa96cb2cc200def24ea5f2e7d63ef83c5afc4673950964339e14e0bcd19c46
  [en-de.no-compress]=35442ba84b7c9ce54e7f08a20738357564771869099444cea2d4ca90045aa6a4
)
for s in en-ru en-de; do
  for c in compress no-compress; do
    "$vandrel" dic compile "$samples/$s.tsv" "$tmp/$s.$c.dic" --no-scramble --$c -q
    [ "$(version "$tmp/$s.$c.dic")" = 3 ] || fail "$s --$c: version $(version "$tmp/$s.$c.dic")"
    [ "$(masked_sha "$tmp/$s.$c.dic")" = "${golden[$s.$c]}" ] || fail "$s --$c: bytes differ from before"
  done
done

# Phonetic transcriptions and Old English forms in English translations of
# German words: every character comes back.
printf '#!language\tde\n#!trans-language\ten\n' > "$tmp/ipa.tsv"
printf 'Haus\thouse [ha\xca\x8as]\nHus\tAS. h\xc5\xabs \\5\xce\xb1\xce\xb2\\5\n' >> "$tmp/ipa.tsv"
printf 'Zeichen\t\\4\xf0\x9d\x84\x9e\\4 sign\n\xc3\x84rger\tanger [\xcb\x88\xc3\xa6\xc5\x8b\xc9\xa1\xc9\x99]\n' >> "$tmp/ipa.tsv"
out=$("$vandrel" dic compile "$tmp/ipa.tsv" "$tmp/ipa.dic" --compress)
grep -q 'characters of 4 translations kept as escapes' <<<"$out" || fail "escape summary: $out"
[ "$(version "$tmp/ipa.dic")" = 4 ] || fail "ipa: version $(version "$tmp/ipa.dic")"
"$vandrel" dic dump "$tmp/ipa.dic" > "$tmp/ipa.1.tsv"
diff <(grep -v '^#' "$tmp/ipa.tsv" | LC_ALL=C sort) <(grep -v '^#' "$tmp/ipa.1.tsv" | LC_ALL=C sort) ||
  fail "ipa: the dump differs from the source"
"$vandrel" dic compile "$tmp/ipa.1.tsv" "$tmp/ipa.2.dic" -q
cmp <("$vandrel" dic dump "$tmp/ipa.2.dic") "$tmp/ipa.1.tsv" || fail "ipa: dump of the recompiled dump differs"
"$vandrel" dic lookup "$tmp/ipa.dic" haus | grep -q 'ha.s' || fail "ipa lookup"

# A dictd source named without language codes: English words, Russian
# translations (and a transcription).
printf 'house [ha\xca\x8as]\n\xd0\xb4\xd0\xbe\xd0\xbc, \xd0\xb7\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xb8\xd0\xb5\ncat\n\xd0\xba\xd0\xbe\xd1\x88\xd0\xba\xd0\xb0\n' > "$tmp/mueller.dict"
# "house [haʊs]\nдом, здание\n" is 35 bytes; "cat\nкошка\n" 15.
printf 'cat\tj\tP\nhouse\tA\tj\n' > "$tmp/mueller.index"
out=$("$vandrel" dic compile "$tmp/mueller.index" "$tmp/mueller.dic")
grep -q '^  translations: Russian (0x0419), chosen from the text; --trans-lang to change$' <<<"$out" ||
  fail "translation language not chosen: $out"
grep -q '^  words: English (0x0409), chosen from the text; --lang to change$' <<<"$out" ||
  fail "word language not chosen: $out"
"$vandrel" dic info "$tmp/mueller.dic" | grep -q '^trans-language: *0x0419' || fail "mueller: trans-language"
"$vandrel" dic dump "$tmp/mueller.dic" | grep -q "^cat	cat\\\\nкошка$" || fail "mueller: dump"

# Russian words: chosen from the text, kept; forced to English they would
# be lost, so the compile is refused and writes nothing.
printf '\xd0\xb4\xd0\xbe\xd0\xbc\thouse\n\xd0\xba\xd0\xbe\xd1\x82\tcat\n\xd1\x81\xd1\x8b\xd1\x80\tcheese\n' > "$tmp/words.tsv"
out=$("$vandrel" dic compile "$tmp/words.tsv" "$tmp/words.dic")
grep -q 'words: Russian (0x0419), chosen from the text' <<<"$out" || fail "Russian words: $out"
cp "$tmp/words.dic" "$tmp/words.keep"
set +e
err=$("$vandrel" dic compile "$tmp/words.tsv" "$tmp/words.dic" --lang en 2>&1); code=$?
set -e
[ $code -eq 1 ] || fail "loss not refused: exit $code"
grep -q '9 of 23 characters would be stored as "?" (more than 1 in 1,000)' <<<"$err" || fail "loss counts: $err"
grep -q 'words.tsv:1: word "дом" stored as "???"' <<<"$err" || fail "loss example: $err"
[ "$(grep -c 'word ".*" stored as' <<<"$err")" -eq 3 ] || fail "three examples: $err"
grep -q 'Russian (0x0419) would hold 9 of the 9 characters: --lang ru keeps them' <<<"$err" || fail "loss language: $err"
cmp "$tmp/words.dic" "$tmp/words.keep" || fail "a refused compile changed the output"
[ -z "$(ls "$tmp" | grep '\.tmp$' || true)" ] || fail "temporary file left"
"$vandrel" dic compile "$tmp/words.tsv" "$tmp/words.dic" --lang en --allow-loss -q
"$vandrel" dic dump "$tmp/words.dic" | grep -q '^???	house; cat; cheese$' || fail "--allow-loss output"
echo "escapes and languages: ok"
