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
# Our side sees LOCALAPPDATA=$local_dir and, when profile_dir is set, USERPROFILE=$profile_dir.
local_dir=$tmp/local profile_dir=
ours() {
  if [ -n "$profile_dir" ]; then
    LOCALAPPDATA=$local_dir USERPROFILE=$profile_dir QUERY_STRING=$1 "${@:2}"
  else
    env -u USERPROFILE LOCALAPPDATA=$local_dir QUERY_STRING=$1 "${@:2}"
  fi
}
pair() {
  local name=$1 query=$2 peer=$3 a b t i
  : >"$tmp/a"; : >"$tmp/b"
  for ((i = 0; i < runs; i++)); do
    t=$(now_ns); ours "$query" bash -c '"$0"' "$bin" >/dev/null; echo $(( $(now_ns) - t )) >>"$tmp/a"
    t=$(now_ns); bash -c "$peer" >/dev/null; echo $(( $(now_ns) - t )) >>"$tmp/b"
  done
  a=$(median <"$tmp/a"); b=$(median <"$tmp/b")
  local rss
  rss=$(ours "$query" /usr/bin/time -f %M "$bin" 2>&1 >/dev/null | tail -1)
  printf '%-28s ours %7.2f ms  peer %7.2f ms  ratio %5.2f  peak %6s KiB\n' \
    "$name" "$(echo "$a/1000000" | bc -l)" "$(echo "$b/1000000" | bc -l)" "$(echo "$a/$b" | bc -l)" "$rss"
}
urlenc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
id="file:$root/big.log"
pair "tail 200 of 64 MiB"  "action=tail&src=$id&lines=200"  "tail -n 200 '$root/big.log'"
pair "tail 2000 of 64 MiB" "action=tail&src=$id&lines=2000" "tail -n 2000 '$root/big.log'"
# The same 4 MiB of lines as a whole log and as the end of a 4 GiB one (a hole before them,
# so it costs no disk): a tail must not cost more for the bigger file.
python3 - "$root/small.log" "$root/huge.log" <<'PY'
import sys
line = b"Dec 10 01:38:19 host daemon[1234]: INFO request served in 12 ms from 10.0.0.%d\n"
body = bytearray()
while len(body) < 4 << 20:
    body += line % (len(body) % 250)
open(sys.argv[1], "wb").write(body)
with open(sys.argv[2], "wb") as f:
    f.seek((4 << 30) - len(body)); f.write(body)
PY
pair "tail 200 of 4 MiB" "action=tail&src=file:$root/small.log&lines=200" "tail -n 200 '$root/small.log'"
pair "tail 200 of 4 GiB" "action=tail&src=file:$root/huge.log&lines=200" "tail -n 200 '$root/huge.log'"
LOCALAPPDATA=$tmp/local QUERY_STRING= "$bin" >"$tmp/page.html"
pair "viewer page" "" "cat '$tmp/page.html'"

# Search: 16 MiB whose last 4 MiB hold far more than the 8000 lines a search reads; the word is
# on one line in 100. The peer greps the same 8000 lines, cut out beforehand: the 4 MiB window
# starts after its first line feed.
python3 - "$root/search.log" "$tmp/window.txt" <<'PY'
import sys
plain = b"Dec 10 01:38:19 host daemon[1234]: INFO request served in 12 ms from 10.0.0.%d\n"
hit = b"Dec 10 01:38:19 host daemon[1234]: WARN upstream Timeout after 30 s from 10.0.0.%d\n"
with open(sys.argv[1], "wb") as f:
    n = i = 0
    while n < 16 << 20:
        b = (hit if i % 100 == 50 else plain) % (i % 250); f.write(b); n += len(b); i += 1
with open(sys.argv[1], "rb") as f:
    f.seek(-(4 << 20), 2); w = f.read()
with open(sys.argv[2], "wb") as f:
    f.write(b"".join(w[w.index(b"\n") + 1:].splitlines(True)[:8000]))
PY
pair "search 1 line in 100" "action=search&src=$(urlenc "file:$root/search.log")&q=timeout" \
  "grep -i -m 500 timeout '$tmp/window.txt'"

# A tree of 39,000 entries (390 folders, 38,610 files, 200 of them ".log") named by both
# variables the way a usual installation does.
home=$tmp/home; tree=$home/AppData/Local/wendquil
python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
n = 0
for a in range(39):
    for b in range(9):
        d = os.path.join(root, "d%02d" % a, "s%d" % b); os.makedirs(d)
        for c in range(110):
            ext = ".log" if n % 193 == 96 and n // 193 < 200 else ".txt"
            open(os.path.join(d, "f%03d%s" % (c, ext)), "wb").close(); n += 1
PY
local_dir=$home/AppData/Local profile_dir=$home
pair "sources of 39,000 entries" "action=sources" "find '$tree' -maxdepth 5 -name '*.log' -printf '%p %s\n'"
# The file the walk meets half-way: the 100th of its 200 rows, in the order the walk lists them.
mid=$(ours "action=sources" "$bin" | python3 -c '
import json, sys
body = sys.stdin.read().split("\r\n\r\n", 1)[1]
rows = [r["id"] for r in json.loads(body)["sources"] if r["kind"] == "file"]
print(rows[len(rows) // 2][len("file:"):])')
python3 - "$mid" <<'PY'
import sys
line = b"Dec 10 01:38:19 host daemon[1234]: INFO request served in 12 ms from 10.0.0.%d\n"
with open(sys.argv[1], "wb") as f:
    f.write(b"".join(line % (i % 250) for i in range(5000)))
PY
pair "tail 200 half-way in tree" "action=tail&src=$(urlenc "file:$mid")&lines=200" \
  "find '$tree' -maxdepth 5 >/dev/null; tail -n 200 '$mid'"
