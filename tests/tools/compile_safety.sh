#!/usr/bin/env bash
# `vandrel dic compile` guards its inputs and outputs: a gzip source is read
# in-process (nothing in $TMPDIR, a planted link there or beside the output
# is never followed), damaged gzip data fails cleanly, an output that is a
# source (directly or through a link) is refused, and a source whose every
# entry is skipped does not replace a dictionary unless --allow-empty.
set -euo pipefail
vandrel=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-compile-safety.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs the command, expects exit status 1 and a message matching $1.
refused() {
  local pattern=$1; shift
  set +e; local err; err=$("$@" 2>&1); local code=$?; set -e
  [ $code -eq 1 ] || fail "$*: exit $code ($err)"
  grep -q -- "$pattern" <<<"$err" || fail "$*: message '$err' lacks '$pattern'"
}
mkdir "$tmp/t" "$tmp/d"
export TMPDIR=$tmp/t

# A dictd source: index offsets and lengths in base 64.
printf 'apple, a fruit\nhouse, a building\n' > "$tmp/d/src.dict"
printf 'apple\tA\tO\nhouse\tP\tR\n' > "$tmp/d/src.index"
gzip -9 -n -S .dz "$tmp/d/src.dict"
# Links that the old way of reading (gzip into a predictable file) followed.
echo victim > "$tmp/victim"
for i in $(seq 0 3); do ln -s "$tmp/victim" "$tmp/t/vandrel-gunzip-$$-$i"; done
ln -s "$tmp/victim" "$tmp/d/out.dic.tmp"
"$vandrel" dic compile "$tmp/d/src.dict.dz" "$tmp/d/out.dic" --lang en --trans-lang en -q
[ "$(cat "$tmp/victim")" = victim ] || fail "a planted link's target was written"
[ -L "$tmp/d/out.dic.tmp" ] || fail "the planted link beside the output was replaced"
[ "$(ls "$tmp/t" | wc -l)" -eq 4 ] || fail "files left in TMPDIR: $(ls "$tmp/t")"
"$vandrel" dic dump "$tmp/d/out.dic" | grep -q "^house	house, a building$" || fail "dictd entry"
[ -z "$(ls "$tmp/d" | grep '\.tmp$' | grep -v '^out\.dic\.tmp$' || true)" ] || fail "temporary file left"

# Damaged and cut-off gzip data: a message naming the file, nothing written.
cp "$tmp/d/out.dic" "$tmp/keep.dic"
cp "$tmp/d/src.index" "$tmp/d/bad.index"
head -c 20 "$tmp/d/src.dict.dz" > "$tmp/d/bad.dict.dz"
refused "bad.dict.dz: the gzip data is cut off" "$vandrel" dic compile "$tmp/d/bad.index" "$tmp/d/out.dic" -q
printf 'not gzip at all' > "$tmp/d/bad.dict.dz"
refused "bad.dict.dz: incorrect header check" "$vandrel" dic compile "$tmp/d/bad.index" "$tmp/d/out.dic" -q
cmp "$tmp/d/out.dic" "$tmp/keep.dic" || fail "a failed compile changed the output"

# The output is the source: tsv, through a link, either dictd file.
printf 'a\tone\n' > "$tmp/s.tsv"
cp "$tmp/s.tsv" "$tmp/s.keep"
ln -s "$tmp/s.tsv" "$tmp/link.dic"
refused "is the source" "$vandrel" dic compile "$tmp/s.tsv" "$tmp/s.tsv"
refused "is the source" "$vandrel" dic compile "$tmp/s.tsv" "$tmp/link.dic"
refused "is the source" "$vandrel" dic compile "$tmp/s.tsv" "$tmp/t/../s.tsv"
refused "is the source" "$vandrel" dic compile "$tmp/d/src.index" "$tmp/d/src.dict.dz"
refused "is the source" "$vandrel" dic compile "$tmp/d/src.dict.dz" "$tmp/d/src.index"
cmp "$tmp/s.tsv" "$tmp/s.keep" || fail "the source was changed"
[ -L "$tmp/link.dic" ] || fail "the link was replaced"

# Every entry skipped: the old dictionary stays unless --allow-empty.
printf '\tempty word\n' > "$tmp/skipped.tsv"
refused "every entry of .*skipped.tsv was skipped (1 entry); nothing written" \
  "$vandrel" dic compile "$tmp/skipped.tsv" "$tmp/d/out.dic"
printf '# nothing\n' > "$tmp/none.tsv"
refused "holds no entries; nothing written" "$vandrel" dic compile "$tmp/none.tsv" "$tmp/d/out.dic"
cmp "$tmp/d/out.dic" "$tmp/keep.dic" || fail "an empty compile replaced the dictionary"
"$vandrel" dic compile "$tmp/skipped.tsv" "$tmp/d/out.dic" --allow-empty -q
"$vandrel" dic info "$tmp/d/out.dic" | grep -q '^words: *0$' || fail "--allow-empty did not write"
echo "compile safety: ok"
