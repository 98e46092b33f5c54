#!/usr/bin/env bash
# Times whole requests of the Linux build against the command-line tool doing the same work.
# Reports figures only; never fails a test run.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/build/bench/plugin_logs
if [ ! -x "$bin" ]; then
  cmake -S "$here" -B "$here/build/bench" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build "$here/build/bench" -j2 >/dev/null || exit 0
fi
runs=${BENCH_RUNS:-15}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
root=$tmp/local/wendquil; mkdir -p "$root"
# 64 MiB of syslog-like lines.
python3 - "$root/big.log" <<'PY'
import sys
line = b"Dec 10 01:38:19 host daemon[1234]: INFO request served in 12 ms from 10.0.0.%d\n"
with open(sys.argv[1], "wb") as f:
    n = 0
    while n < 64 << 20:
        b = line % (n % 250); f.write(b); n += len(b)
PY
now_ns() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Both sides start through bash -c so process start-up costs the same.
# pair NAME OURS_QUERY PEER_COMMAND: alternates the two, prints medians, ratio, peak RSS.
pair() {
  local name=$1 query=$2 peer=$3 a b t i
  : >"$tmp/a"; : >"$tmp/b"
  for ((i = 0; i < runs; i++)); do
    t=$(now_ns); LOCALAPPDATA=$tmp/local QUERY_STRING=$query bash -c '"$0"' "$bin" >/dev/null; echo $(( $(now_ns) - t )) >>"$tmp/a"
    t=$(now_ns); bash -c "$peer" >/dev/null; echo $(( $(now_ns) - t )) >>"$tmp/b"
  done
  a=$(median <"$tmp/a"); b=$(median <"$tmp/b")
  local rss
  rss=$(LOCALAPPDATA=$tmp/local QUERY_STRING=$query /usr/bin/time -f %M "$bin" 2>&1 >/dev/null | tail -1)
  printf '%-28s ours %7.2f ms  peer %7.2f ms  ratio %5.2f  peak %6s KiB\n' \
    "$name" "$(echo "$a/1000000" | bc -l)" "$(echo "$b/1000000" | bc -l)" "$(echo "$a/$b" | bc -l)" "$rss"
}
id="file:$root/big.log"
pair "tail 200 of 64 MiB"  "action=tail&src=$id&lines=200"  "tail -n 200 '$root/big.log'"
pair "tail 2000 of 64 MiB" "action=tail&src=$id&lines=2000" "tail -n 2000 '$root/big.log'"
LOCALAPPDATA=$tmp/local QUERY_STRING= "$bin" >"$tmp/page.html"
pair "viewer page" "" "cat '$tmp/page.html'"
