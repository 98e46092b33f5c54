#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each briefly over a copy of its seed corpus,
# so a change that makes one crash fails the tests. Longer runs: see "Fuzzing" in README.md.
set -u
cd "$(dirname "$0")/../.."
. scripts/lib.sh
ensure_packages clang libclang-rt-14-dev || exit 1

seconds=${FUZZ_SECONDS:-12}
cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null &&
  cmake --build build/fuzz -j2 >/dev/null || { echo "fuzz build failed"; exit 1; }

status=0
for target in query json_str line_shape event_parser event_output mode_json entries scan_back cursor time_range; do
  work=$(mktemp -d /tmp/pl_fuzz_corpus.XXXXXX)
  cp fuzz/corpus/"$target"/* "$work"/
  log="$work.log"
  if build/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
       -artifact_prefix="$work.crash-" "$work" >"$log" 2>&1; then
    echo "fuzz_$target: $(grep -E '^Done' "$log")"
  else
    echo "fuzz_$target: FAILED"; tail -40 "$log"; ls "$work".crash-* 2>/dev/null
    status=1
  fi
  rm -rf "$work" "$log"
done
exit $status
