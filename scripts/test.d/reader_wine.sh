#!/usr/bin/env bash
# Windows build under Wine: a log stays writable, renamable and deletable while it is read,
# a log removed after listing gives the exact unreadable_source documents, final paths
# compare in their Windows forms, and a started tool runs in its job.
set -u
cd "$(dirname "$0")/../.."
. scripts/lib.sh
ensure_wine
tool=build/win/reader_check.exe
[ -f "$tool" ] || { echo "missing $tool" >&2; exit 1; }
dir=$(mktemp -d /tmp/pl_reader_wine_XXXXXX)
trap 'rm -rf "$dir"' EXIT
win="Z:${dir//\//\\}"
status=0

wine "$tool" share "$win" || status=1
wine "$tool" paths || status=1
wine "$tool" proc || status=1

header=$'Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n'
id="file:${win//\\/\\\\}\\\\gone.log"
want_tail="${header}{\"ok\":false,\"error\":\"unreadable_source\",\"message\":\"the source could not be read on this node\",\"src\":\"$id\"}"
want_search="${header}{\"ok\":false,\"error\":\"unreadable_source\",\"src\":\"$id\"}"
for action in tail search; do
  want=want_$action
  wine "$tool" gone "$win" "$action" >"$dir/out" || status=1
  if printf '%s\n' "${!want}" | cmp -s - "$dir/out"; then
    echo "ok $action of a log gone after listing"
  else
    echo "FAIL $action of a log gone after listing:"; cat -A "$dir/out"; status=1
  fi
done
exit $status
