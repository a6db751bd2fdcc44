#!/usr/bin/env bash
# The match strategies and the DICT gateway beside dictd from Debian, in one
# run over the same dictd sources (dict-freedict-deu-eng and dict-wn):
# compiles both into a Dic folder on tmpfs, starts the service on it, the
# gateway (`vandrel dict-server`) and dictd each on a loopback port of their
# own, and prints the figures of bench/peer/match_peer_bench next to
# dictd's. Every process started here is stopped by its pid at the end.
set -euo pipefail
build=${VANDREL_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build-bench}
bin=$build/bin
dictd_dir=${DICTD_DIR:-/usr/share/dictd}
[ -x "$bin/match_peer_bench" ] || { echo "no $bin/match_peer_bench: build first (bench/run.sh)" >&2; exit 1; }
command -v dictd >/dev/null || { echo "dictd is not installed (scripts/deps.sh)" >&2; exit 1; }

tmp=$(mktemp -d /dev/shm/vandrel-bench-peer.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -f "$tmp/dictd/dictd.pid" ] && kill "$(cat "$tmp/dictd/dictd.pid")" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
export VANDREL_RUNTIME_DIR=$tmp/run
mkdir -p "$VANDREL_RUNTIME_DIR" "$tmp/Dic" "$tmp/dictd"
# dictd drops its privileges: its log folder must be open to it.
chmod 711 "$tmp"
chmod 1777 "$tmp/dictd"

echo "compiling freedict-deu-eng and wn into $tmp/Dic"
"$bin/vandrel" dic compile "$dictd_dir/freedict-deu-eng.index" "$tmp/Dic/DeEn.dic" >/dev/null
"$bin/vandrel" dic compile "$dictd_dir/wn.index" "$tmp/Dic/Wn.dic" >/dev/null
# 200 headwords of deu-eng, the same for every run.
cut -f1 "$dictd_dir/freedict-deu-eng.index" | grep -v '^00' | awk 'length($0) >= 4' |
  shuf -n 200 --random-source=<(yes) > "$tmp/words.txt"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

"$bin/vandrel-service" "$tmp/Dic" /stay > "$tmp/service.log" 2>&1 &
pids+=($!)
port=$(free_port)
"$bin/vandrel" dict-server --listen "127.0.0.1:$port" > "$tmp/gateway.log" 2>&1 &
pids+=($!)

peer_port=$(free_port)
cat > "$tmp/dictd.conf" <<CONF
global { listen_to 127.0.0.1 }
database freedict-deu-eng { data "$dictd_dir/freedict-deu-eng.dict.dz" index "$dictd_dir/freedict-deu-eng.index" }
database wn { data "$dictd_dir/wn.dict.dz" index "$dictd_dir/wn.index" }
CONF
dictd -c "$tmp/dictd.conf" -p "$peer_port" --pid-file "$tmp/dictd/dictd.pid" -L "$tmp/dictd/dictd.log" \
  -d nodetach --locale C.UTF-8 > "$tmp/dictd/out.log" 2>&1 &
pids+=($!)

for _ in $(seq 100); do
  grep -q "listening on port" "$tmp/gateway.log" 2>/dev/null &&
    (echo > "/dev/tcp/127.0.0.1/$peer_port") 2>/dev/null && break
  sleep 0.2
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (2 cores)"
echo
"$bin/match_peer_bench" strategies "$tmp/Dic/DeEn.dic" "$tmp/words.txt"
echo
"$bin/match_peer_bench" service "$tmp/words.txt"
echo
"$bin/match_peer_bench" dict "$port" "$peer_port" "$tmp/words.txt"
echo
echo "commands: match_peer_bench strategies DeEn.dic WORDS; match_peer_bench service WORDS;"
echo "  match_peer_bench dict GATEWAY_PORT DICTD_PORT WORDS (dictd $(dictd -V 2>&1 | head -1 | cut -d' ' -f2))"
