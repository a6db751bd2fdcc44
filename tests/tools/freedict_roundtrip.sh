#!/usr/bin/env bash
# A real dictionary through the dictd reader: Debian's dict-freedict-deu-eng
# (about half a million headwords). The dictionary is compiled from its
# dictd files and dumped. Independently, awk reads the same index and data
# (base-64 offsets, definitions as whole lines) into a tab-separated source
# in index order, which is compiled and dumped too. Both went through the
# same merge rules, so the dumps must hold the same words and translations:
# every headword and definition came through. Exit 77 (skip) without the
# package.
#
# Usage: freedict_roundtrip.sh VANDREL [HEADWORDS]
# HEADWORDS > 0 keeps only the index's first lines (the sanitizer build,
# where the whole dictionary takes too long); the data file stays whole.
set -euo pipefail
vandrel=$1
limit=${2:-0}
dir=${FREEDICT_DIR:-/usr/share/dictd}
index=$dir/freedict-deu-eng.index
data=$dir/freedict-deu-eng.dict.dz
if [ ! -f "$index" ] || [ ! -f "$data" ]; then
  echo "SKIP: $index or $data not found (Debian package dict-freedict-deu-eng)"
  exit 77
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-freedict.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
if [ "$limit" -gt 0 ]; then
  head -n "$limit" "$dir/freedict-deu-eng.index" > "$tmp/freedict-deu-eng.index"
  grep -e '^00-database-' -e '^00database' "$dir/freedict-deu-eng.index" >> "$tmp/freedict-deu-eng.index" || true
  ln -s "$data" "$tmp/freedict-deu-eng.dict.dz"
  index=$tmp/freedict-deu-eng.index
fi

"$vandrel" dic compile "$index" "$tmp/fd.dic" -q
"$vandrel" dic dump "$tmp/fd.dic" -o "$tmp/fd.tsv"

# The reference reading. 1: index lines as offset, length, line number,
# headword, sorted by offset (dictionary entries excluded).
gzip -dc "$data" > "$tmp/fd.dict"
LC_ALL=C awk -F'\t' '
  BEGIN { digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/" }
  function b64(s,   v, i, d) {
    if (s == "") { bad = 1; return 0 }
    v = 0
    for (i = 1; i <= length(s); i++) {
      d = index(digits, substr(s, i, 1))
      if (d == 0) { bad = 1; return 0 }
      v = v * 64 + d - 1
    }
    return v
  }
  {
    sub(/\r$/, "")
    if ($0 == "") next
    if (NF < 3) { print "index line " NR ": fields" > "/dev/stderr"; exit 1 }
    if ($1 ~ /^00-database-/ || $1 ~ /^00database/) next
    bad = 0
    off = b64($2); len = b64($3)
    if (bad) { print "index line " NR ": number" > "/dev/stderr"; exit 1 }
    printf "%d\t%d\t%d\t%s\n", off, len, NR, $1
  }' "$index" | LC_ALL=C sort -t "$(printf '\t')" -k1,1n -k3,3n > "$tmp/by_offset"

# 2: the data file line by line; each definition is the run of whole lines
# it covers, turned into an escaped translation as the format describes.
LC_ALL=C awk -F'\t' '
  function convert(line) {
    sub(/\r$/, "", line)
    gsub(/\r/, "\n", line)
    gsub(/[\001-\011\013-\037]/, " ", line)
    return line
  }
  function emit(text,   i, w) {
    sub(/^[ \n]+/, "", text); sub(/[ \n]+$/, "", text)
    gsub(/\\/, "&&", text); gsub(/\n/, "\\n", text)
    for (i = 1; i <= nm; i++) {
      w = hw[members[i]]
      sub(/^[ \t]+/, "", w); sub(/[ \t]+$/, "", w)
      gsub(/\\/, "&&", w)
      if (substr(w, 1, 1) == "#") w = "\\" w
      printf "%d\t%s\t%s\n", line[members[i]], w, text
    }
  }
  FNR == NR { n++; off[n] = $1; len[n] = $2; line[n] = $3; hw[n] = $4; next }
  FNR == 1 { k = 1; pos = 0 }
  {
    start = pos; pos += length($0) + 1
    while (k <= n && off[k] < start) { print "definition at " off[k] " is not at a line start" > "/dev/stderr"; exit 1 }
    while (k <= n && off[k] == start) {
      if (len[k] == 0) { nm = 1; members[1] = k; emit(""); k++; continue }
      if (!active) { active = 1; end = off[k] + len[k]; text = ""; nm = 0; first = 1 }
      else if (off[k] + len[k] != end) { print "overlapping definitions at " start > "/dev/stderr"; exit 1 }
      members[++nm] = k; k++
    }
    if (active) {
      text = text (first ? "" : "\n") convert($0); first = 0
      if (pos >= end) {
        if (pos != end) { print "definition ending inside a line at " end > "/dev/stderr"; exit 1 }
        emit(text); active = 0
      }
    }
  }
  END { if (k <= n) { print (n - k + 1) " definitions past the end of the data" > "/dev/stderr"; exit 1 } }
' "$tmp/by_offset" "$tmp/fd.dict" | LC_ALL=C sort -t "$(printf '\t')" -k1,1n | cut -f2- > "$tmp/ref.tsv"
rm -f "$tmp/fd.dict" "$tmp/by_offset"

headwords=$(grep -v -e '^00-database-' -e '^00database' "$index" | grep -c .)
[ "$(wc -l < "$tmp/ref.tsv")" -eq "$headwords" ] || fail "reference holds $(wc -l < "$tmp/ref.tsv") of $headwords headwords"

"$vandrel" dic compile "$tmp/ref.tsv" "$tmp/ref.dic" --lang de --trans-lang en -q
"$vandrel" dic dump "$tmp/ref.dic" -o "$tmp/ref.dump.tsv"
grep -v '^#' "$tmp/fd.tsv" > "$tmp/a"
grep -v '^#' "$tmp/ref.dump.tsv" > "$tmp/b"
words=$(wc -l < "$tmp/a")
[ "$limit" -gt 0 ] || [ "$words" -gt 300000 ] || fail "only $words words"
if ! cmp -s "$tmp/a" "$tmp/b"; then
  diff "$tmp/a" "$tmp/b" | head -20 >&2
  fail "the dictd reading and the reference reading differ"
fi
grep -q '^#!name	German - English' "$tmp/fd.tsv" || fail "name from 00databaseshort: $(grep '^#!name' "$tmp/fd.tsv")"
echo "freedict-deu-eng: $headwords headwords, $words words after merging: OK"
