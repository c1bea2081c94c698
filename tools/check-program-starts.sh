#!/usr/bin/env bash
# Starts the program without a display or sound device and checks that it is still running a
# moment later, then ends it. Fails with the program's own messages when it stopped by itself.
#   tools/check-program-starts.sh PROGRAM [SECONDS]
set -euo pipefail

program=${1:?usage: $0 PROGRAM [SECONDS]}
seconds=${2:-3}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy "$program" >"$log" 2>&1 &
pid=$!
sleep "$seconds"
if ! kill -0 "$pid" 2>/dev/null; then
    status=0
    wait "$pid" || status=$?
    echo "check-program-starts: $program ended by itself within $seconds s, status $status:" >&2
    cat "$log" >&2
    exit 1
fi
kill -TERM "$pid"
wait "$pid" 2>/dev/null || true
echo "check-program-starts: $program started and ran for $seconds s"
