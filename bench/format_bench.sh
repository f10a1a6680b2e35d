#!/usr/bin/env bash
# Format benchmark: a new HFS volume on a 2 GB sparse image, verrin-cli
# format (partitioned disk: map plus volume) against hfsutils' hformat of an
# image of the same size (bare volume), in one run. Each side formats a
# fresh sparse file several times; the best run counts. Prints the times,
# the ratio (ours / hformat) and the disk space each image takes.
# Usage: bench/format_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
. "$(dirname "$0")/common.sh"
runs="${2:-5}"
size=2G


ours=()
peer=()
for _ in $(seq 1 "$runs"); do
    rm -f "$work/ours.img" "$work/peer.img"
    # hformat needs the file to exist; making it is not counted. Ours
    # creates its file itself, and that is counted.
    truncate -s "$size" "$work/peer.img"
    t0=$(now)
    "$cli" format "$work/ours.img" --name Bench --size "$size" >/dev/null
    t1=$(now)
    hformat -l Bench "$work/peer.img" >/dev/null
    t2=$(now)
    ours+=("$(elapsed "$t0" "$t1")")
    peer+=("$(elapsed "$t1" "$t2")")
done
o=$(best "${ours[@]}")
p=$(best "${peer[@]}")
echo "format of a $size sparse image, best of $runs:"
echo "  verrin-cli format: ${o}s  ($(du -k "$work/ours.img" | cut -f1) KiB allocated)"
echo "  hformat:           ${p}s  ($(du -k "$work/peer.img" | cut -f1) KiB allocated)"
awk -v a="$o" -v b="$p" 'BEGIN { printf "  ratio ours/hformat: %.2f\n", (b > 0 ? a / b : 0) }'
"$cli" check "$work/ours.img" >/dev/null && echo "  verrin-cli check: OK"
