#!/usr/bin/env bash
# Every test: installs what is missing (as root on Debian), builds the Linux, sanitizer and
# Windows builds, then runs the unit tests, the black-box suite on both targets and the rest.
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages cmake g++ make libgtest-dev python3 g++-mingw-w64-x86-64 wine wine64 \
  clang libclang-rt-14-dev lighttpd chromium apache2
ensure_wine

status=0
phase() { # name command...
  local name=$1; shift
  echo "=== $name"
  if "$@"; then results+=("$name: ok"); else results+=("$name: FAILED"); status=1; fi
}
results=()

build_all || exit 1

phase "unit (linux)" ctest --test-dir build/linux --output-on-failure --no-tests=error -j2
phase "unit (asan+ubsan)" ctest --test-dir build/asan --output-on-failure --no-tests=error -j2
phase "blackbox (linux)" python3 tests/blackbox/run.py linux build/linux/plugin_logs
phase "blackbox (asan+ubsan)" python3 tests/blackbox/run.py linux build/asan/plugin_logs
phase "blackbox (windows under wine)" python3 tests/blackbox/run.py wine build/win/plugin_logs.exe build/win/pl_launch.exe
for extra in scripts/test.d/*.sh; do
  [ -e "$extra" ] || continue
  phase "$(basename "$extra" .sh)" bash "$extra"
done

echo "=== summary"
printf '%s\n' "${results[@]}"
failed=$(printf '%s\n' "${results[@]}" | grep -c 'FAILED$')
echo "suites: $(( ${#results[@]} - failed )) passed, $failed failed"
exit $status
