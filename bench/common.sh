#!/usr/bin/env bash
# Shared set-up of the benchmarks, sourced after `set -euo pipefail`:
# `root`, `cli` (verrin-cli from BUILD_DIR, the first argument, default
# build/), a scratch folder `work` removed on exit and used as HOME (hfsutils
# keeps its current volume there), and the timing helpers.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli="${1:-$root/build}/verrin-cli"
[ -x "$cli" ] || { echo "build verrin-cli first (ninja -C build verrin-cli)" >&2; exit 1; }
command -v hformat >/dev/null || { echo "hfsutils is needed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
highest() { printf '%s\n' "$@" | sort -g | tail -1; }

# Seconds one command takes, by bash's own clock (no extra process inside
# the timed span); its output is discarded and a failure ends the script.
timed() {
    local t0=$EPOCHREALTIME
    "$@" >/dev/null || { echo "failed: $*" >&2; return 1; }
    local t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }'
}

# Runs a command under GNU time; prints its wall-clock seconds and peak
# resident memory in megabytes.
wall_and_peak() {
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null || { echo "failed: $*" >&2; return 1; }
    awk '{ printf "%s %.1f\n", $1, $2 / 1024 }' "$work/time.txt"
}

# The system calls a command makes (strace -c -f), or "-" without strace.
syscalls() {
    command -v strace >/dev/null || { "$@" >/dev/null; echo "-"; return; }
    strace -c -f -o "$work/strace.txt" "$@" >/dev/null || { echo "failed: $*" >&2; return 1; }
    awk '$NF == "total" { print $4 }' "$work/strace.txt"
}
