#!/usr/bin/env bash
# Serves the viewer through lighttpd's CGI at http://127.0.0.1:PORT/plugin_logs until Ctrl-C.
#   bash scripts/run.sh [--port N] [--data DIR] [--password PW]
# DIR holds the product folder "wendquil" (default: the samples shipped in the repository).
set -eu
cd "$(dirname "$0")/.."
root=$PWD
port=8080
data=$root/samples
password=
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --data) data=$(cd "$2" && pwd); shift 2 ;;
    --password) password=$2; shift 2 ;;
    -h|--help) sed -n 2,4p "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

. scripts/lib.sh
ensure_packages cmake g++ make lighttpd
cmake -S . -B build/serve -DCMAKE_BUILD_TYPE=Release -DPL_TESTS=OFF >/dev/null
cmake --build build/serve -j2 --target plugin_logs >/dev/null

conf_dir=$root/build/run
mkdir -p "$conf_dir"
bash scripts/lighttpd_conf.sh "$conf_dir" "$port" "$root/build/serve/plugin_logs" \
  "$data" "$password" > "$conf_dir/lighttpd.conf"
lighttpd -tt -f "$conf_dir/lighttpd.conf" >/dev/null
echo "plugin_logs viewer: http://127.0.0.1:$port/plugin_logs  (data: $data/wendquil; Ctrl-C stops)"
exec lighttpd -D -f "$conf_dir/lighttpd.conf"
