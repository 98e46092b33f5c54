#!/usr/bin/env bash
# A tail or search within a time range of a 1 GiB log against the plain tail of its end: the
# range's ends are found by bisection, so a range in the middle should cost about what the end
# does. Reports medians (both sides started alike by bench/pair_time.cpp, alternated) and
# callgrind's instruction counts; never fails a test run.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build/bench
bin=$out/plugin_logs
harness=$out/pair_time
{ cmake -S "$here" -B "$out" -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null &&
  cmake --build "$out" -j2 --target plugin_logs >/dev/null &&
  c++ -O2 -static -o "$harness" "$here/bench/pair_time.cpp"; } || exit 0
valgrind=$(command -v valgrind) || { echo "bench: valgrind missing; no instruction counts" >&2; valgrind=; }
runs=${BENCH_RUNS:-15}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
root=$tmp/local/wendquil; mkdir -p "$root"
log=$root/big.log
# 1 GiB of a request log, four lines a second from 2024-03-01 (about 47 days), a stack trace
# after the last line of every hour; written a minute at a time from a template.
python3 - "$log" <<'PY'
import sys
start = b"2024-03-01T00:00:"
def minute(trace):
    lines = [b"%s%02d.%03dZ INFO [http-nio-8080-exec-%d] c.e.api.OrderController : request %02d%d served in 12 ms\n"
             % (start, s, q * 250, q + 1, s, q) for s in range(60) for q in range(4)]
    if trace:
        lines.append(b"java.lang.IllegalStateException: pool exhausted\n\tat com.example.pool.Pool.take(Pool.java:88)\n")
    return b"".join(lines)
plain, last = minute(False), minute(True)
days = [(2024, 3, d) for d in range(1, 32)] + [(2024, 4, d) for d in range(1, 31)]
size = 0
with open(sys.argv[1], "wb") as f:
    for y, mo, d in days:
        for h in range(24):
            chunk = b"".join((last if m == 59 else plain).replace(start, b"%d-%02d-%02dT%02d:%02d:" % (y, mo, d, h, m))
                             for m in range(60))
            f.write(chunk)
            size += len(chunk)
            if size >= 1 << 30:
                sys.exit(0)
PY
last_line=$(tail -c 300 "$log" | grep -a '^20' | tail -n 1)
echo "log: $(du -h "$log" | cut -f1), $(head -c 24 "$log") .. ${last_line:0:24}"

ours() { echo "LOCALAPPDATA=$tmp/local" "QUERY_STRING=$1" "$bin"; }
# instructions QUERY: callgrind's count of one request, in millions ("-" without valgrind).
instructions() {
  [ -n "$valgrind" ] || { echo "-"; return; }
  local n
  n=$(env -i LOCALAPPDATA="$tmp/local" QUERY_STRING="$1" "$valgrind" --tool=callgrind \
    --callgrind-out-file=/dev/null "$bin" 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  printf '%.2fM' "$(echo "${n:-0}/1000000" | bc -l)"
}
src="src=file:$log"
base="action=tail&$src&lines=200"
printf '%-40s %9s %9s %6s %9s %9s\n' request "ms" "end ms" ratio "Ir" "end Ir"
end_ir=$(instructions "$base")
# row NAME QUERY: the request against the tail of the file's end, alternated.
row() {
  local a b pa pb
  # shellcheck disable=SC2046
  read -r a b pa pb < <("$harness" "$runs" $(ours "$2") --vs $(ours "$base")) || return
  [ -n "${a:-}" ] || { echo "$1: harness failed"; return; }
  printf '%-40s %9.2f %9.2f %6.2f %9s %9s\n' "$1" "$(echo "$a/1000000" | bc -l)" "$(echo "$b/1000000" | bc -l)" \
    "$(echo "$a/$b" | bc -l)" "$(instructions "$2")" "$end_ir"
}
row "tail 200, no range (the end)" "$base"
row "tail 200 until the middle" "$base&until=2024-03-17T12:00"
row "tail 200 until the first minute" "$base&until=2024-03-01T00:00"
row "tail 200 of one middle hour" "$base&since=2024-03-17T11:00&until=2024-03-17T11:59:59"
row "tail 2000, multiline, no range" "action=tail&$src&lines=2000&multiline=1"
row "tail 2000 until the middle, multiline" "action=tail&$src&lines=2000&multiline=1&until=2024-03-17T12:00"
row "tail 200 since the end's last hour" "$base&since=$(echo "${last_line:0:13}" | sed 's/$/:00/')"
row "search, no range (the last 4 MiB)" "action=search&$src&q=request%20300"
row "search one middle hour" "action=search&$src&q=request%20300&since=2024-03-17T11:00&until=2024-03-17T11:59"
