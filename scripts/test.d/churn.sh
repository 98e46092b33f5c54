#!/usr/bin/env bash
# Requests against a log another process keeps appending to, truncating, deleting and
# rotating: on the Linux and sanitizer builds, every answer is one complete document.
set -u
cd "$(dirname "$0")/../.."
status=0
for build in build/linux build/asan; do
  python3 tests/faults/churn.py "$build/plugin_logs" 200 || status=1
done
exit $status
