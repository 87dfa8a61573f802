#!/usr/bin/env bash
# Prints the share of test code: lines of *.cc and *.h under tests/ and fuzz/
# over the lines of all *.cc and *.h in lib, iptrackd, sim, tools, tests,
# fuzz and bench, counting only lines that are neither blank nor comments.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    find "$@" \( -name '*.cc' -o -name '*.h' \) -type f -print0 2>/dev/null | xargs -0r cat |
        grep -v '^[[:space:]]*$' | grep -cv '^[[:space:]]*\(//\|/\*\|\*\)'
}
test_lines=$(count tests fuzz)
all_lines=$(count lib iptrackd sim tools tests fuzz bench)
awk -v t="$test_lines" -v a="$all_lines" \
    'BEGIN { printf "test share: %d of %d lines, %.1f%%\n", t, a, a ? 100 * t / a : 0 }'
