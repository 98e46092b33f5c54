#!/usr/bin/env bash
# Times the backward whole-file search against grep and ripgrep counting the same lines of the
# same cached ~1 GB log, and counts the instructions of each on a smaller one. Reports figures
# only; never fails a test run.
#
# Every side is started alike by bench/pair_time.cpp: directly (no shell), with only the
# variables given, output into a pipe that is drained; each pair alternates the two sides and
# prints medians. The scanner runs as a request would (500 hits at most, the request budget);
# with a needle of few hits it reads the whole file, as `grep -c` and `rg -c` do.
#   BENCH_RUNS=N (default 9), BENCH_MB=size of the big log in MB (default 1000).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/lib.sh"
ensure_packages ripgrep valgrind bc >/dev/null 2>&1 || echo "bench: could not install ripgrep/valgrind" >&2
out=$here/build/bench
driver=$out/scan_back_driver
harness=$out/pair_time
{ cmake -S "$here" -B "$out" -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null &&
  cmake --build "$out" -j2 --target plugin_logs_core >/dev/null &&
  c++ -O2 -std=c++17 -static -I"$here/include" -I"$here/src/plugin_logs/platform" -o "$driver" \
    "$here/bench/scan_back_driver.cpp" "$out/libplugin_logs_core.a" &&
  c++ -O2 -static -o "$harness" "$here/bench/pair_time.cpp"; } || { echo "bench: build failed"; exit 0; }
grep_bin=$(command -v grep) rg_bin=$(command -v rg) || { echo "bench: grep or rg missing"; exit 0; }
valgrind=$(command -v valgrind) || valgrind=
runs=${BENCH_RUNS:-9}
mb=${BENCH_MB:-1000}
tmp=$(mktemp -d /tmp/pl_scan_bench.XXXXXX); trap 'rm -rf "$tmp"' EXIT

# A log of the layouts real programs write (rsyslog, log4j, Python logging, nginx, Windows CBS,
# Serilog, Java stack traces, some UTF-8 text), from a fixed seed: a pool of varied lines laid
# down in runs from random places, with one line for the needles below, in random case, every
# ~25 MB.
python3 - "$tmp/big.log" "$((mb * 1000000))" "$tmp/small.log" 32000000 <<'PY'
import random, sys
rng = random.Random(20240115)
mon = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
words = ("request served order payment session cache upstream worker connection user "
         "account invoice shipment token refresh backend database query index replica "
         "commit rollback checkpoint handshake certificate renewal scheduler job").split()
hosts = ["web-01", "web-02", "db-primary", "build-07", "edge-3"]
progs = ["sshd", "cron", "systemd", "kernel", "nginx", "postfix/smtpd", "dockerd"]
def ts(): return "2024-%02d-%02d %02d:%02d:%02d" % (rng.randint(1, 12), rng.randint(1, 28),
        rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
def msg(n): return " ".join(rng.choice(words) for _ in range(n))
def line():
    k = rng.randrange(100)
    if k < 22:
        return "%s %2d %02d:%02d:%02d %s %s[%d]: %s" % (rng.choice(mon), rng.randint(1, 28),
            rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), rng.choice(hosts),
            rng.choice(progs), rng.randint(100, 65000), msg(rng.randint(4, 14)))
    if k < 40:
        return "%s,%03d [http-nio-8080-exec-%d] %-5s com.example.%s.%sService - %s id=%d" % (
            ts(), rng.randint(0, 999), rng.randint(1, 40), rng.choice(["INFO", "DEBUG", "WARN", "ERROR"]),
            rng.choice(words), rng.choice(words).title(), msg(rng.randint(3, 10)), rng.randint(1, 10**6))
    if k < 55:
        return "%s,%03d - %s - %s - %s" % (ts(), rng.randint(0, 999), rng.choice(
            ["urllib3.connectionpool", "app.worker", "celery.beat", "sqlalchemy.engine"]),
            rng.choice(["INFO", "DEBUG", "WARNING"]), msg(rng.randint(3, 12)))
    if k < 72:
        return '10.%d.%d.%d - - [%02d/%s/2024:%02d:%02d:%02d +0000] "GET /api/v1/%s/%d HTTP/1.1" %d %d "-" "Mozilla/5.0 (Windows NT 10.0; Win64; x64)"' % (
            rng.randint(0, 255), rng.randint(0, 255), rng.randint(0, 255), rng.randint(1, 28),
            rng.choice(mon), rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59),
            rng.choice(words), rng.randint(1, 99999), rng.choice([200, 200, 200, 304, 404, 500]),
            rng.randint(100, 90000))
    if k < 82:
        return "%s, %-21s CBS    %s: %s [HRESULT = 0x%08x]\r" % (ts(), rng.choice(["Info", "Warning", "Error"]),
            rng.choice(["Exec", "Appl", "Perf", "Session"]), msg(rng.randint(3, 9)), rng.randint(0, 2**32 - 1))
    if k < 92:
        return "%s.%03d +01:00 [%s] %s in %.4f ms" % (ts(), rng.randint(0, 999),
            rng.choice(["INF", "DBG", "WRN"]), msg(rng.randint(3, 9)), rng.random() * 100)
    if k < 97:
        return "\tat com.example.%s.%sService.%s(%sService.java:%d)" % (rng.choice(words),
            rng.choice(words).title(), rng.choice(words), rng.choice(words).title(), rng.randint(10, 900))
    return rng.choice(["%s.%03d +01:00 [INF] Utilisateur « admin » connecté depuis 10.0.0.%d",
                       "%s.%03d +01:00 [WRN] Пользователь admin: повторная попытка %d"]) % (ts(), rng.randint(0, 999), rng.randint(1, 250))
pool = [(line() + "\n").encode() for _ in range(200000)]
def hit():
    text = "".join(c.upper() if rng.random() < 0.5 else c for c in "[ERR] Quota exceeded for tenant")
    return ("%s.%03d +01:00 %s %d, tenet rule %d applies\n" % (ts(), rng.randint(0, 999), text,
            rng.randint(1, 999), rng.randint(1, 9))).encode()
for path, size in ((sys.argv[1], int(sys.argv[2])), (sys.argv[3], int(sys.argv[4]))):
    with open(path, "wb") as f:
        n = next_hit = 0
        while n < size:
            i = rng.randrange(len(pool) - 1000)
            run = b"".join(pool[i:i + 1000])
            if n >= next_hit:
                run += hit(); next_hit += 25000000
            f.write(run); n += len(run)
PY
size=$(stat -c %s "$tmp/big.log")
cat "$tmp/big.log" >/dev/null # into the page cache

# One row per needle: medians of the alternated runs, the rate over the file, and ours over theirs.
printf '%-16s %7s %7s %7s %9s %9s %6s %6s %9s\n' needle hits "ours ms" "grep ms" "rg ms" "ours GB/s" "/grep" "/rg" "peak KiB"
row() {
  local needle=$1 hits ours grep_hits a b c pa
  hits=$("$driver" "$tmp/big.log" "$needle" 2>/dev/null)
  grep_hits=$(LC_ALL=C "$grep_bin" -F -i -c -- "$needle" "$tmp/big.log")
  [ "$hits" = "$grep_hits" ] || echo "bench: $needle: $hits hits, grep counts $grep_hits" >&2
  read -r a b pa _ < <("$harness" "$runs" "$driver" "$tmp/big.log" "$needle" \
    --vs LC_ALL=C "$grep_bin" -F -i -c -- "$needle" "$tmp/big.log") || return
  read -r ours c _ < <("$harness" "$runs" "$driver" "$tmp/big.log" "$needle" \
    --vs "$rg_bin" -F -i -c -- "$needle" "$tmp/big.log") || return
  printf '%-16s %7s %7.1f %7.1f %7.1f %9.2f %6.2f %6.2f %9s\n' "\"$needle\"" "$hits" \
    "$(echo "$a/1000000" | bc -l)" "$(echo "$b/1000000" | bc -l)" "$(echo "$c/1000000" | bc -l)" \
    "$(echo "$size/$a" | bc -l)" "$(echo "$a/$b" | bc -l)" "$(echo "$ours/$c" | bc -l)" "$pa"
}
echo "log of $size bytes, $runs runs a side"
# Rare bytes ('q', 'x'): the usual case. Only common letters ('t', 'e', 'n'): candidates at
# nearly every word, the worst case for a rare-byte search.
row "quota exceeded"
row "tenet"
row "[ERR]"

# Instructions (callgrind, one run each) on a 32 MB log of the same lines.
[ -n "$valgrind" ] || { echo "bench: valgrind missing; no instruction counts"; exit 0; }
# ir [NAME=VALUE]... PROGRAM [ARG]...: the program's instruction count under callgrind. Its
# output goes to a pipe, as in the timed runs: grep stops at the first match when it writes to
# /dev/null.
ir() {
  local vars=()
  while [[ $1 != /* && $1 == *=* ]]; do vars+=("$1"); shift; done
  env -i "${vars[@]}" "$valgrind" --tool=callgrind --callgrind-out-file=/dev/null \
    --log-file="$tmp/callgrind.txt" "$@" 2>/dev/null | cat >/dev/null
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/callgrind.txt"
}
small=$tmp/small.log
printf '\n%-16s %12s %12s %12s %11s\n' needle "ours Ir" "grep Ir" "rg Ir" "ours Ir/B"
for needle in "quota exceeded" "tenet" "[ERR]"; do
  a=$(ir "$driver" "$small" "$needle") b=$(ir LC_ALL=C "$grep_bin" -F -i -c -- "$needle" "$small")
  c=$(ir "$rg_bin" -F -i -c -- "$needle" "$small")
  printf '%-16s %11.1fM %11.1fM %11.1fM %11.3f\n' "\"$needle\"" "$(echo "${a:-0}/1000000" | bc -l)" \
    "$(echo "${b:-0}/1000000" | bc -l)" "$(echo "${c:-0}/1000000" | bc -l)" "$(echo "${a:-0}/$(stat -c %s "$small")" | bc -l)"
done
