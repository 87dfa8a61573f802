#!/usr/bin/env bash
# Starts what exists of the system.  Until the stand-ins land this runs the
# daemon in the foreground; Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -x build/iptrackd/iptrackd ]; then
    exec build/iptrackd/iptrackd
fi
echo "run: the daemon is not built yet; the libraries and their tests are (make test)."
