#!/usr/bin/env bash
# Transfer benchmark: copying one large file through the translations,
# verrin-cli get/put against hfsutils' hcopy in the same run. A 64 MB file
# is put onto a fresh 128 MB volume (ours: put -m data; hfsutils: hcopy -r)
# and copied back to the PC (get -m data, -m text, -m macbinary, -m binhex
# against hcopy -r, -t, -m and binhex of the MacBinary file). Best of RUNS
# for each; prints the times and the ratios (ours / peer).
# Usage: bench/transfer_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
. "$(dirname "$0")/common.sh"
runs="${2:-3}"
mkdir "$work/pc" "$work/out"
head -c $((64 * 1024 * 1024)) /dev/urandom | tr '\n' '\r' > "$work/pc/big"
printf '[Main Prefs]\n' > "$work/KVOL.INI"

report() {  # label ours peer
    awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN { printf "  %-10s ours %8.3fs  peer %8.3fs  ratio %.2f\n", l, a, b, (b > 0 ? a / b : 0) }'
}

fresh() {
    truncate -s 0 "$work/v.img"
    truncate -s 128M "$work/v.img"
    hformat -l Bench "$work/v.img" >/dev/null
}

echo "64 MB file, best of $runs:"
ours=(); peer=()
for _ in $(seq 1 "$runs"); do
    fresh
    t0=$(now); "$cli" put -m data --ini "$work/KVOL.INI" "$work/v.img" : "$work/pc/big"; t1=$(now)
    fresh
    t2=$(now); hcopy -r "$work/pc/big" :big; t3=$(now)
    ours+=("$(elapsed "$t0" "$t1")"); peer+=("$(elapsed "$t2" "$t3")")
done
report "put data" "$(best "${ours[@]}")" "$(best "${peer[@]}")"

for pair in "data:-r" "text:-t" "macbinary:-m" "binhex:binhex"; do
    mode=${pair%%:*}; flag=${pair#*:}
    ours=(); peer=()
    for _ in $(seq 1 "$runs"); do
        rm -f "$work/out"/*
        t0=$(now); "$cli" get -m "$mode" --overwrite --ini "$work/KVOL.INI" "$work/v.img" big "$work/out"; t1=$(now)
        if [ "$flag" = binhex ]; then
            hcopy -m :big "$work/peer.bin"
            t2=$(now); hcopy -m :big "$work/peer.bin"; binhex "$work/peer.bin" > "$work/peer.hqx"; t3=$(now)
        else
            t2=$(now); hcopy "$flag" :big "$work/peer.out"; t3=$(now)
        fi
        ours+=("$(elapsed "$t0" "$t1")"); peer+=("$(elapsed "$t2" "$t3")")
    done
    report "get $mode" "$(best "${ours[@]}")" "$(best "${peer[@]}")"
done
"$cli" check "$work/v.img" >/dev/null && echo "  verrin-cli check: OK"
