#!/usr/bin/env bash
# Instructions of shape_log_line for one line of each common layout, counted by callgrind (the
# same on a busy machine as on an idle one). Reports figures only; never fails a test run.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build/bench
command -v valgrind >/dev/null || { echo "shape_lines: valgrind missing" >&2; exit 0; }
{ cmake -S "$here" -B "$out" -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null &&
  cmake --build "$out" -j2 --target plugin_logs_core >/dev/null &&
  c++ -O2 -I"$here/include" -o "$out/shape_lines" "$here/bench/shape_lines.cpp" "$out/libplugin_logs_core.a"; } || exit 0
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
rounds=1000
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$out/shape_lines" "$1" "$2" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
while IFS='|' read -r name line; do
  printf '%s\n' "$line" >"$tmp/line"
  base=$(count "$tmp/line" 0) all=$(count "$tmp/line" $rounds)
  printf '%-10s %6d instructions a line (the loop around it included)\n' "$name" $(((all - base) / rounds))
done <<'LINES'
log4j|2024-01-15 10:34:00.123 [main] INFO  com.example.App - Started in 2.1 s and listening on port 8080
bare level|2024-01-15T10:30:00.123Z ERROR something failed while talking to the upstream server again
syslog|Jan 05 10:00:00 myhost sshd[1234]: Accepted publickey for admin from 10.0.0.1 port 5555 ssh2
Serilog|2024-01-15 10:31:00.123 +01:00 [ERR] Unhandled exception in request /api/items for user 42
NLog|2024-01-15 10:32:00.1234|ERROR|MyApp.Worker|Could not reach the queue at amqp://localhost
CBS|2024-01-15 10:30:31, Info                  CBS    Failed to get next element [HRESULT = 0x800f080d]
plain|   at System.Net.Http.HttpClient.SendAsync(HttpRequestMessage request, CancellationToken token)
pino|{"level":30,"time":1705314600123,"pid":4242,"hostname":"web-1","msg":"request completed in 12 ms"}
LINES
