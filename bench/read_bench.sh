#!/usr/bin/env bash
# Read-side benchmark: listing a folder of 3,000 files and extracting
# 40 MB of forks from a 200 MB HFS image, verrin-cli against hfsutils
# (hls, hcopy) and against a plain cp of the same bytes, in one run.
# Prints each time and the ratios. Usage: bench/read_bench.sh [BUILD_DIR]
set -euo pipefail
. "$(dirname "$0")/common.sh"
img="$work/bench.img"

dd if=/dev/zero of="$img" bs=1M count=200 status=none
hformat -l Bench "$img" >/dev/null
hmount "$img" >/dev/null
hmkdir ':Many'
hmkdir ':Big'
mkdir "$work/src"
for i in $(seq 1 3000); do printf 'file %d\n' "$i" > "$work/src/f$i"; done
(cd "$work/src" && hcopy -r f* ':Many:')
for i in $(seq 1 20); do head -c 2000000 /dev/urandom > "$work/big$i"; done
hcopy -r "$work"/big* ':Big:'
humount >/dev/null


t0=$(now); "$cli" ls -l "$img" Many > /dev/null; t1=$(now)
hmount "$img" >/dev/null
t2=$(now); hls -l ':Many' > /dev/null; t3=$(now)
ours_ls=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
peer_ls=$(awk -v a="$t2" -v b="$t3" 'BEGIN { print b - a }')

mkdir "$work/out-peer" "$work/out-ours" "$work/out-cp"
t0=$(now); hcopy -r ':Big:*' "$work/out-peer/"; t1=$(now)
humount >/dev/null
t2=$(now); for i in $(seq 1 20); do "$cli" cat "$img" "Big:big$i" > "$work/out-ours/big$i"; done; t3=$(now)
t4=$(now); cp "$work"/big* "$work/out-cp/"; t5=$(now)
peer_cp=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
ours_cp=$(awk -v a="$t2" -v b="$t3" 'BEGIN { print b - a }')
plain_cp=$(awk -v a="$t4" -v b="$t5" 'BEGIN { print b - a }')
cmp -s "$work/out-ours/big7" "$work/big7" || { echo "extracted bytes differ" >&2; exit 1; }

printf 'list 3000 files:   verrin-cli %.3fs  hls %.3fs  ratio %s\n' "$ours_ls" "$peer_ls" "$(ratio "$ours_ls" "$peer_ls")"
printf 'extract 40 MB:     verrin-cli %.3fs  hcopy %.3fs  cp %.3fs  ratio to hcopy %s, to cp %s\n' \
    "$ours_cp" "$peer_cp" "$plain_cp" "$(ratio "$ours_cp" "$peer_cp")" "$(ratio "$ours_cp" "$plain_cp")"
