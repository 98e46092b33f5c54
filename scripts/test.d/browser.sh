#!/usr/bin/env bash
# Browser tests: the viewer page in Debian's chromium against build/linux behind lighttpd, and
# the run command's demo.
set -eu
cd "$(dirname "$0")/../.."
. scripts/lib.sh
ensure_packages chromium lighttpd
ensure_npm
[ -x build/linux/plugin_logs ] || {
  cmake -S . -B build/linux >/dev/null && cmake --build build/linux -j2 --target plugin_logs
}
cd tests/browser
npm ci --no-audit --no-fund --loglevel=error
node --test --test-concurrency=1 ./*.test.mjs
