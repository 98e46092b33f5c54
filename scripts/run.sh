#!/usr/bin/env bash
# Placeholder until the local server lands: builds and shows what the program answers.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
ensure_packages cmake g++ make
cmake -S . -B build/linux -DPL_TESTS=OFF >/dev/null && cmake --build build/linux -j2 >/dev/null
build/linux/plugin_logs --help
QUERY_STRING=action=info build/linux/plugin_logs
