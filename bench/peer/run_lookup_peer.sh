#!/usr/bin/env bash
# One-request lookups and word pages beside dictd from Debian, in one run
# over the same dictd sources (dict-freedict-deu-eng and dict-wn): compiles
# both into a Dic folder on tmpfs, then bench/peer/lookup_peer_bench starts
# the service and dictd (a loopback port of its own, its own configuration)
# and prints each figure next to dictd's with the ratio. Every process
# started is stopped by its pid. Runtime folder and Dic on tmpfs.
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
dictd_dir=${DICTD_DIR:-/usr/share/dictd}
[ -x "$bin/lookup_peer_bench" ] || { echo "no $bin/lookup_peer_bench: build first (bench/run.sh)" >&2; exit 1; }
for p in dictd dict; do
  command -v "$p" >/dev/null || { echo "$p is not installed: apt-get install dictd dict" >&2; exit 1; }
done
for f in freedict-deu-eng wn; do
  [ -f "$dictd_dir/$f.index" ] || {
    echo "no $dictd_dir/$f.index: apt-get install dict-freedict-deu-eng dict-wn" >&2
    exit 1
  }
done

tmp=$(mktemp -d /dev/shm/vandrel-bench-lookup-peer.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
export VANDREL_RUNTIME_DIR=$tmp/run XDG_STATE_HOME=$tmp/state
export VANDREL_SERVICE=$bin/vandrel-service
mkdir -p "$VANDREL_RUNTIME_DIR" "$XDG_STATE_HOME" "$tmp/Dic" "$tmp/dictd"
chmod 700 "$VANDREL_RUNTIME_DIR"
# dictd drops its privileges: its log folder must be open to it.
chmod 711 "$tmp"
chmod 1777 "$tmp/dictd"

echo "compiling freedict-deu-eng and wn (compressed) into $tmp/Dic"
"$bin/vandrel" dic compile "$dictd_dir/freedict-deu-eng.index" "$tmp/Dic/DeEn.dic" --compress >/dev/null
"$bin/vandrel" dic compile "$dictd_dir/wn.index" "$tmp/Dic/Wn.dic" --compress >/dev/null
# 100 headwords of each, the same for every run.
for f in freedict-deu-eng wn; do
  cut -f1 "$dictd_dir/$f.index" | grep -v '^00' | grep -v '"' | awk 'length($0) >= 4' |
    shuf -n 100 --random-source=<(yes)
done > "$tmp/words.txt"

cat > "$tmp/dictd/dictd.conf" <<CONF
global { listen_to 127.0.0.1 }
database freedict-deu-eng { data "$dictd_dir/freedict-deu-eng.dict.dz" index "$dictd_dir/freedict-deu-eng.index" }
database wn { data "$dictd_dir/wn.dict.dz" index "$dictd_dir/wn.index" }
CONF

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores); dictd $(dictd -V 2>&1 | head -1 | cut -d' ' -f2)"
echo
"$bin/lookup_peer_bench" "$tmp/Dic" "$tmp/dictd/dictd.conf" "$tmp/words.txt"
echo
echo "command: bench/peer/run_lookup_peer.sh (lookup_peer_bench DIC_DIR DICTD_CONF WORDS)"
