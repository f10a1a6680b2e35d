#!/usr/bin/env bash
# Write-side benchmark: verrin-cli put of 2,000 small files into one folder
# and of one 100 MB file, against hcopy into an identical fresh image and
# against a plain cp of the same bytes, in one run. Every copy is checked
# by reading it back. Prints each time and the ratios.
# Usage: bench/write_bench.sh [BUILD_DIR]
set -euo pipefail
. "$(dirname "$0")/common.sh"

fresh() {
    dd if=/dev/zero of="$1" bs=1M count=200 status=none
    hformat -l Bench "$1" >/dev/null
    hmount "$1" >/dev/null
    hmkdir ':Many'
    humount >/dev/null
}
fresh "$work/ours.img"
cp "$work/ours.img" "$work/peer.img"

mkdir "$work/src" "$work/cp-small" "$work/cp-big"
for i in $(seq 1 2000); do printf 'small file number %d\n' "$i" > "$work/src/f$i"; done
head -c 100000000 /dev/urandom > "$work/big.bin"
small=("$work"/src/f*)

span() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }

# 2,000 small files into one folder.
t0=$(now); "$cli" put "$work/ours.img" Many "${small[@]}"; t1=$(now)
hmount "$work/peer.img" >/dev/null
t2=$(now); hcopy -r "${small[@]}" ':Many:'; t3=$(now)
humount >/dev/null
t4=$(now); cp "${small[@]}" "$work/cp-small/"; t5=$(now)
ours_small=$(span "$t0" "$t1"); peer_small=$(span "$t2" "$t3"); cp_small=$(span "$t4" "$t5")

# One 100 MB file.
t0=$(now); "$cli" put "$work/ours.img" : "$work/big.bin"; t1=$(now)
hmount "$work/peer.img" >/dev/null
t2=$(now); hcopy -r "$work/big.bin" ':big.bin'; t3=$(now)
humount >/dev/null
t4=$(now); cp "$work/big.bin" "$work/cp-big/"; t5=$(now)
ours_big=$(span "$t0" "$t1"); peer_big=$(span "$t2" "$t3"); cp_big=$(span "$t4" "$t5")

# Both images hold the same: hfsutils reads ours back, and we read theirs.
hmount "$work/ours.img" >/dev/null
[ "$(hls ':Many' | wc -l)" -eq 2000 ] || { echo "hls does not list 2000 files" >&2; exit 1; }
hcopy -r ':big.bin' "$work/back.bin"
hcopy -r ':Many:f1234' "$work/back.small"
humount >/dev/null
cmp -s "$work/back.bin" "$work/big.bin" || { echo "the 100 MB file differs" >&2; exit 1; }
cmp -s "$work/back.small" "$work/src/f1234" || { echo "a small file differs" >&2; exit 1; }
"$cli" cat "$work/peer.img" big.bin | cmp -s - "$work/big.bin" || { echo "hcopy's copy reads back differently" >&2; exit 1; }

printf 'put 2000 small files: verrin-cli %.3fs  hcopy %.3fs  cp %.3fs  ratio to hcopy %s, to cp %s\n' \
    "$ours_small" "$peer_small" "$cp_small" "$(ratio "$ours_small" "$peer_small")" "$(ratio "$ours_small" "$cp_small")"
printf 'put one 100 MB file:  verrin-cli %.3fs  hcopy %.3fs  cp %.3fs  ratio to hcopy %s, to cp %s\n' \
    "$ours_big" "$peer_big" "$cp_big" "$(ratio "$ours_big" "$peer_big")" "$(ratio "$ours_big" "$cp_big")"
