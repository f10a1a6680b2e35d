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
