#!/usr/bin/env bash
# The Linux build behind a real Apache httpd (mod_cgid) on loopback, with its own config.
set -eu
cd "$(dirname "$0")/../.."
. scripts/lib.sh
ensure_packages apache2 python3
[ -x build/linux/plugin_logs ] || {
  cmake -S . -B build/linux >/dev/null && cmake --build build/linux -j2 --target plugin_logs
}
exec python3 tests/servers/apache_test.py build/linux/plugin_logs
