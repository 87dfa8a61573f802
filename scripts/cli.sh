#!/usr/bin/env bash
# Talks to the management stand-in started by `make run`, from another
# terminal: enters that run's mount namespace (where its socket lives) and
# runs the command-line client with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
nsfile=$PWD/build/run-namespace.pid
if [ ! -s "$nsfile" ] || ! kill -0 "$(cat "$nsfile")" 2>/dev/null; then
    echo "cli: no 'make run' is running" >&2
    exit 3
fi
exec nsenter --mount --target "$(cat "$nsfile")" -- /tmp/mgmtcli "$@"
