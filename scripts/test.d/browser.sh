#!/usr/bin/env bash
# Browser tests: the viewer page in Debian's chromium against build/linux behind lighttpd.
set -eu
cd "$(dirname "$0")/../.."
. scripts/lib.sh
ensure_packages chromium lighttpd
# node may come from elsewhere with its own npm; Debian's npm would clash with it.
command -v npm >/dev/null || ensure_packages nodejs npm
[ -x build/linux/plugin_logs ] || {
  cmake -S . -B build/linux >/dev/null && cmake --build build/linux -j2 --target plugin_logs
}
cd tests/browser
npm ci --no-audit --no-fund --loglevel=error
node --test --test-concurrency=1 viewer.test.mjs
