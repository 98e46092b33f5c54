#!/usr/bin/env bash
# Times whole requests of the Linux build against the command-line tool doing the same work, and
# counts the instructions of both. Reports figures only; never fails a test run.
#
# Both sides are started alike by bench/pair_time.cpp: directly (no shell), with only the
# variables given (as env -i would), output into a pipe that is drained. It alternates the two
# and prints medians; the ratio is ours over the peer's. Instructions come from callgrind (one
# run each, the same on a busy machine as on an idle one); peak memory from the kernel's
# accounting of each run (the harness is linked statically and small: a process started by
# vfork counts its parent's resident memory until it runs its own program).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build/bench
bin=$out/plugin_logs
harness=$out/pair_time
{ cmake -S "$here" -B "$out" -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null &&
  cmake --build "$out" -j2 --target plugin_logs >/dev/null &&
  c++ -O2 -static -o "$harness" "$here/bench/pair_time.cpp"; } || exit 0
valgrind=$(command -v valgrind) || { echo "bench: valgrind missing; no instruction counts" >&2; valgrind=; }
tail_bin=$(command -v tail) grep_bin=$(command -v grep) find_bin=$(command -v find) cat_bin=$(command -v cat)
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

# Our side: the variables of a request, then the program. Our program sees LOCALAPPDATA=$local_dir
# and, when profile_dir is set, USERPROFILE=$profile_dir.
local_dir=$tmp/local profile_dir=
ours=()
set_ours() {
  ours=("LOCALAPPDATA=$local_dir")
  [ -n "$profile_dir" ] && ours+=("USERPROFILE=$profile_dir")
  ours+=("QUERY_STRING=$1" "$bin")
}

# instructions COMMAND [--then COMMAND]...: callgrind's count in millions, summed over the
# commands ("-" without valgrind).
instructions() {
  [ -n "$valgrind" ] || { echo "-"; return; }
  local total=0 words=() w n
  for w in "$@" --then; do
    if [ "$w" != --then ]; then words+=("$w"); continue; fi
    local vars=() i=0
    while [[ ${words[i]} != /* && ${words[i]} == *=* ]]; do vars+=("${words[i]}"); i=$((i + 1)); done
    n=$(env -i "${vars[@]}" "$valgrind" --tool=callgrind --callgrind-out-file=/dev/null \
      "${words[@]:i}" 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
    total=$((total + ${n:-0})); words=()
  done
  printf '%.2fM' "$(echo "$total/1000000" | bc -l)"
}

printf '%-27s %9s %9s %6s %9s %9s %9s\n' request "ours ms" "peer ms" ratio "peak KiB" "ours Ir" "peer Ir"
# pair NAME QUERY PEER_COMMAND...: one row of the table.
pair() {
  local name=$1 query=$2 a b pa pb; shift 2
  set_ours "$query"
  read -r a b pa pb < <("$harness" "$runs" "${ours[@]}" --vs "$@") || return
  [ -n "${a:-}" ] || { echo "$name: harness failed"; return; }
  printf '%-27s %9.2f %9.2f %6.2f %9s %9s %9s\n' "$name" "$(echo "$a/1000000" | bc -l)" \
    "$(echo "$b/1000000" | bc -l)" "$(echo "$a/$b" | bc -l)" "$pa" \
    "$(instructions "${ours[@]}")" "$(instructions "$@")"
}
urlenc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
id="file:$root/big.log"
pair "tail 200 of 64 MiB" "action=tail&src=$id&lines=200" "$tail_bin" -n 200 "$root/big.log"
pair "tail 2000 of 64 MiB" "action=tail&src=$id&lines=2000" "$tail_bin" -n 2000 "$root/big.log"
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
pair "tail 200 of 4 MiB" "action=tail&src=file:$root/small.log&lines=200" "$tail_bin" -n 200 "$root/small.log"
pair "tail 200 of 4 GiB" "action=tail&src=file:$root/huge.log&lines=200" "$tail_bin" -n 200 "$root/huge.log"
env -i LOCALAPPDATA="$tmp/local" QUERY_STRING= "$bin" >"$tmp/page.html"
pair "viewer page" "" "$cat_bin" "$tmp/page.html"

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
  "$grep_bin" -i -m 500 timeout "$tmp/window.txt"

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
pair "sources of 39,000 entries" "action=sources" "$find_bin" "$tree" -maxdepth 5 -name '*.log' -printf '%p %s\n'
# The file the walk meets half-way: the 100th of its 200 rows, in the order the walk lists them.
set_ours "action=sources"
mid=$(env -i "${ours[@]}" | python3 -c '
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
  "$find_bin" "$tree" -maxdepth 5 --then "$tail_bin" -n 200 "$mid"
