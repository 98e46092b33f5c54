#!/usr/bin/env bash
# Serves the viewer through lighttpd's CGI at http://127.0.0.1:PORT/plugin_logs until Ctrl-C.
#   bash scripts/run.sh [--port N] [--data DIR] [--password PW]
# DIR holds the product folder "wendquil". Without --data: a copy of the shipped samples, whose
# app.log grows by a line a second while the server runs, and the sample event tool.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
port=8080
data=
password=
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --data) data=$(cd "$2" && pwd); shift 2 ;;
    --password) password=$2; shift 2 ;;
    -h|--help) sed -n 2,5p "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

. scripts/lib.sh
ensure_packages cmake g++ make lighttpd
cmake -S . -B build/serve -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null
cmake --build build/serve -j2 --target plugin_logs >/dev/null

# One folder per port, so that two servers never share their data.
conf_dir=$root/build/run/$port
mkdir -p "$conf_dir"
bin=
if [ -z "$data" ]; then
  # A fresh copy each start, so the tracked samples never change.
  data=$conf_dir/data
  rm -rf "$data"
  mkdir -p "$data"
  cp -R samples/wendquil "$data/"
  bin=$root/samples/bin
fi
bash scripts/lighttpd_conf.sh "$conf_dir" "$port" "$root/build/serve/plugin_logs" \
  "$data" "$password" "$bin" > "$conf_dir/lighttpd.conf"
lighttpd -tt -f "$conf_dir/lighttpd.conf" >/dev/null

# Appends one line a second to LOG for as long as process PID lives.
grow_log() { # LOG PID
  local log=$1 pid=$2 n=0 stamp
  local messages=("request <GET /status> answered in 3 ms" "sync run finished, 12 changes uploaded"
    "request <GET /api/items> answered in 41 ms" "warning: slow response from node-b (2400 ms)"
    "cache hit ratio 0.93 over the last minute" "error: could not reach update server: timeout")
  while kill -0 "$pid" 2>/dev/null; do
    printf -v stamp '%(%b %d %H:%M:%S)T' -1
    printf '%s node-a wendquil-app[412]: %s\n' "$stamp" "${messages[n % ${#messages[@]}]}" >>"$log"
    n=$((n + 1))
    sleep 1
  done
}

echo "plugin_logs viewer: http://127.0.0.1:$port/plugin_logs  (data: $data/wendquil; Ctrl-C stops)"
if [ -n "$bin" ]; then
  echo "demo: $data/wendquil/app.log grows by a line a second; event logs come from samples/bin/wevtutil"
  # The server keeps this shell's process id; the writer ends within a second of it.
  (export LC_ALL=C; grow_log "$data/wendquil/app.log" $$) &
fi
exec lighttpd -D -f "$conf_dir/lighttpd.conf"
