#!/usr/bin/env bash
# Runs the end-to-end scenarios (tests/e2e/scenario_*.sh, or those named)
# against verrin.exe under Wine in its own Xvfb, keeping screenshots.
# Usage: tests/e2e/run.sh BUILD_WIN CLI OUT [SCENARIO...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
BUILD_WIN=$(cd "$1" && pwd)
CLI=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
mkdir -p "$3"
OUT=$(cd "$3" && pwd)
shift 3
export BUILD_WIN CLI OUT
. "$here/lib.sh"

scenarios=("$@")
if [ ${#scenarios[@]} -eq 0 ]; then
    for f in "$here"/scenario_*.sh; do scenarios+=("$(basename "$f" .sh)"); done
fi

e2e_setup
trap e2e_teardown EXIT
passed=0
failed=0
for s in "${scenarios[@]}"; do
    s=${s#scenario_}
    started=$(date +%s)
    echo "--- $s"
    if (set -e; . "$here/lib.sh"; . "$here/scenario_$s.sh"); then
        passed=$((passed + 1))
        echo "ok $s ($(( $(date +%s) - started ))s)"
    else
        failed=$((failed + 1))
        echo "FAILED $s"
        # Whatever the scenario left running goes before the next one.
        "$WINESERVER" -k >/dev/null 2>&1 || true
    fi
done
echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
