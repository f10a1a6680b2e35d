#!/usr/bin/env bash
# The operations verrin-cli shares with hfsutils and plain file commands,
# timed in pairs: each round runs both sides back to back, the order
# alternating from round to round, and the ratio (ours / other) of each
# round is kept, so a busy machine slows both sides of a pair alike. Prints
# per operation the median ratio with its lowest and highest round, the
# median times, and the commands compared.
#   ls of 10,000 names            verrin-cli ls          / hls -1
#   ls -l, ls --json              verrin-cli ls -l/--json / hls -la (TZ=UTC)
#   cat of a 100 MB fork          verrin-cli cat > /dev/null / cat FILE > /dev/null
#   put of a 100 MB file          verrin-cli put (fresh image) / cp (fresh name)
#   put of 2,000 files of 4 KB    verrin-cli put (empty folder) / hcopy -r
#   rename in 60,000 files        verrin-cli rename / hrename
# verrin-cli's changes are journaled and on stable storage when it exits;
# the other side's changes are then synced too (sync FILE), so both sides
# pay for durability. With VERRIN_BENCH_NO_JOURNAL=1 neither side syncs.
# Usage: bench/peers_bench.sh [BUILD_DIR] [ROUNDS] [ONLY]
#   ROUNDS defaults to 7; ONLY, a word such as "ls", "put" or "100 MB", runs
#   only the operations whose label contains it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
rounds="${2:-7}"
only="${3:-}"
export TZ=UTC

lowest() { printf '%s\n' "$@" | sort -g | head -1; }
# The other side's written file, on stable storage unless the benchmark
# switch turns verrin-cli's journal and syncs off.
durable() { [ -n "${VERRIN_BENCH_NO_JOURNAL:-}" ] || sync "$1"; }

# pair LABEL REPEAT OURS PEER [PREPARE]: ROUNDS rounds of REPEAT calls of
# each side's function; PREPARE (untimed) runs before every call with
# "ours" or "peer". Prints one line of the table.
pair() {
    local label=$1 repeat=$2 ours=$3 peer=$4 prepare=${5:-}
    [[ -z "$only" || "$label" == *"$only"* ]] || return 0
    local ratios=() ours_times=() peer_times=()
    for r in $(seq 1 "$rounds"); do
        local a=0 b=0 side t
        for side in $( ((r % 2)) && echo "ours peer" || echo "peer ours"); do
            for _ in $(seq 1 "$repeat"); do
                [ -n "$prepare" ] && "$prepare" "$side"
                if [ "$side" = ours ]; then t=$(timed "$ours"); a=$(awk -v x="$a" -v y="$t" 'BEGIN { print x + y }')
                else t=$(timed "$peer"); b=$(awk -v x="$b" -v y="$t" 'BEGIN { print x + y }'); fi
            done
        done
        ratios+=("$(ratio "$a" "$b")")
        ours_times+=("$(awk -v x="$a" -v n="$repeat" 'BEGIN { printf "%.4f", x / n }')")
        peer_times+=("$(awk -v x="$b" -v n="$repeat" 'BEGIN { printf "%.4f", x / n }')")
    done
    printf '%-34s %6s  (%s..%s)  %9ss %9ss\n' "$label" "$(median "${ratios[@]}")" "$(lowest "${ratios[@]}")" \
        "$(highest "${ratios[@]}")" "$(median "${ours_times[@]}")" "$(median "${peer_times[@]}")"
}

fresh_image() {  # PATH SIZE: a new HFS volume with an empty folder Many
    rm -f "$1"
    truncate -s "$2" "$1"
    hformat -l Bench "$1" >/dev/null
    hmount "$1" >/dev/null
    hmkdir ':Many'
    humount >/dev/null
}
want() { [[ -z "$only" || "$1" == *"$only"* ]]; }

echo "$rounds rounds; ratio = verrin-cli / other: median (lowest..highest), then the median times;" \
    "changes $([ -n "${VERRIN_BENCH_NO_JOURNAL:-}" ] && echo "not journaled or synced" || echo "synced on both sides")"
printf '%-34s %6s  %-12s  %10s %10s\n' operation ratio spread ours other

# A folder of 10,000 files, listed by both.
if want ls; then
    fresh_image "$work/list.img" 64M
    mkdir "$work/names"
    for i in $(seq 1 10000); do printf 'file %d\n' "$i" > "$work/names/f$i"; done
    "$cli" put "$work/list.img" Many "$work/names"/* >/dev/null
    rm -rf "$work/names"
    hmount "$work/list.img" >/dev/null
    ls_ours() { "$cli" ls "$work/list.img" Many; }
    ls_long() { "$cli" ls -l "$work/list.img" Many; }
    ls_json() { "$cli" ls --json "$work/list.img" Many; }
    hls_one() { hls -1 ':Many'; }
    hls_long() { hls -la ':Many'; }
    pair "ls 10,000 / hls -1" 10 ls_ours hls_one
    pair "ls -l 10,000 / hls -la" 10 ls_long hls_long
    pair "ls --json 10,000 / hls -la" 10 ls_json hls_long
    humount >/dev/null
fi

# One 100 MB file: read back from the volume, and put onto a fresh one.
big_put="put 100 MB / cp"
small_put="put 2,000 x 4 KB / hcopy -r"
if want "cat 100 MB fork / cat file" || want "$big_put"; then
    head -c 100000000 /dev/urandom > "$work/big.bin"
fi
if want "cat 100 MB fork / cat file"; then
    fresh_image "$work/big.img" 160M
    "$cli" put "$work/big.img" : "$work/big.bin" >/dev/null
    "$cli" cat "$work/big.img" big.bin | cmp -s - "$work/big.bin" || { echo "cat gives other bytes" >&2; exit 1; }
    cat_ours() { "$cli" cat "$work/big.img" big.bin; }
    cat_plain() { cat "$work/big.bin"; }
    pair "cat 100 MB fork / cat file" 3 cat_ours cat_plain
fi
if want "$big_put" || want "$small_put"; then
    fresh_image "$work/template.img" 160M
fi
if want "$big_put"; then
    prepare_big() {
        if [ "$1" = ours ]; then cp --sparse=always "$work/template.img" "$work/put.img"; else rm -f "$work/copy.bin"; fi
        sync -f "$work" 2>/dev/null || true
    }
    put_big() { "$cli" put "$work/put.img" : "$work/big.bin"; }
    cp_big() { cp "$work/big.bin" "$work/copy.bin" && durable "$work/copy.bin"; }
    pair "$big_put" 1 put_big cp_big prepare_big
    hmount "$work/put.img" >/dev/null
    hcopy -r ':big.bin' "$work/back.bin"
    humount >/dev/null
    cmp -s "$work/back.bin" "$work/big.bin" || { echo "the 100 MB file reads back differently" >&2; exit 1; }
    rm -f "$work/back.bin" "$work/copy.bin"
fi
if want "$small_put"; then
    mkdir "$work/small"
    for i in $(seq 1 2000); do head -c 4096 /dev/urandom > "$work/small/s$i"; done
    small=("$work"/small/*)
    prepare_small() {
        if [ "$1" = ours ]; then cp --sparse=always "$work/template.img" "$work/put.img"
        else cp --sparse=always "$work/template.img" "$work/peer.img"; hmount "$work/peer.img" >/dev/null; fi
    }
    put_small() { "$cli" put "$work/put.img" Many "${small[@]}"; }
    hcopy_small() { hcopy -r "${small[@]}" ':Many:' && durable "$work/peer.img"; }
    pair "$small_put" 1 put_small hcopy_small prepare_small
    humount >/dev/null
    "$cli" check "$work/put.img" >/dev/null || { echo "the volume put into does not check" >&2; exit 1; }
fi

# Renaming one file in a folder of 60,000, on two copies of one image.
if want rename; then
    fresh_image "$work/many.img" 400M
    mkdir "$work/batch"
    for i in $(seq 1 2000); do printf '%d\n' "$i" > "$work/batch/x$i"; done
    for b in $(seq 1 30); do
        (cd "$work/batch" && for f in *; do mv "$f" "b$b-${f#*-}"; done)
        "$cli" put "$work/many.img" Many "$work/batch"/* >/dev/null
    done
    rm -rf "$work/batch"
    cp --sparse=always "$work/many.img" "$work/many-peer.img"
    sync -f "$work" 2>/dev/null || true
    hmount "$work/many-peer.img" >/dev/null
    turn=0
    rename_names() {  # the name a round renames from and to: alternately there and back
        if ((turn % 2)); then from="renamed-b15-x1000"; to="b15-x1000"; else from="b15-x1000"; to="renamed-b15-x1000"; fi
    }
    rename_ours() { rename_names; "$cli" rename "$work/many.img" "Many:$from" "$to"; }
    rename_peer() { rename_names; hrename ":Many:$from" ":Many:$to" && durable "$work/many-peer.img"; }
    # Each side renames once per round: the name goes back and forth.
    pair_rename() {
        local ratios=() ours_times=() peer_times=() a b
        for r in $(seq 1 "$rounds"); do
            if ((r % 2)); then a=$(timed rename_ours); b=$(timed rename_peer)
            else b=$(timed rename_peer); a=$(timed rename_ours); fi
            turn=$((turn + 1))
            ratios+=("$(ratio "$a" "$b")"); ours_times+=("$a"); peer_times+=("$b")
        done
        printf '%-34s %6s  (%s..%s)  %9ss %9ss\n' "rename in 60,000 / hrename" "$(median "${ratios[@]}")" \
            "$(lowest "${ratios[@]}")" "$(highest "${ratios[@]}")" "$(median "${ours_times[@]}")" \
            "$(median "${peer_times[@]}")"
    }
    pair_rename
    humount >/dev/null
    "$cli" check "$work/many.img" >/dev/null || { echo "the renamed volume does not check" >&2; exit 1; }
fi
