#!/usr/bin/env bash
# Following a log with the tail's cursor against asking for the whole tail each time: the
# instructions of single ticks, then 200 viewers ticking every 3 s, both kinds in one run.
# No web server and no network: the program is started directly, as a CGI host starts it.
# Reports figures only. Run by hand:
#   bash bench/follow.sh [program] [seconds per phase]   (default build/bench/plugin_logs, 20 s;
#                                                         four phases, about 100 s in all)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
ensure_packages python3 valgrind
program=${1:-build/bench/plugin_logs}
if [ ! -x "$program" ]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null
  cmake --build build/bench -j2 --target plugin_logs >/dev/null
fi
exec python3 bench/follow.py "$program" "${2:-20}"
