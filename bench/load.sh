#!/usr/bin/env bash
# Load test through lighttpd with mod_cgi on loopback: 50 clients tailing a log every 100 ms
# while a writer appends 1,000 lines a second and rotates the log twice. Run by hand:
#   bash bench/load.sh [program] [seconds]     (default build/linux/plugin_logs, 60 s)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
ensure_packages lighttpd python3
program=${1:-build/linux/plugin_logs}
if [ ! -x "$program" ]; then
  cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/linux -j2 --target plugin_logs >/dev/null
fi
exec python3 bench/load.py "$program" "${2:-60}"
