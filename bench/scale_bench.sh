#!/usr/bin/env bash
# Scale benchmark: one folder grown to 60,000 files by puts of 2,000 files
# of 4 KB each, verrin-cli into one image and hcopy into an identical one,
# batch by batch in the same run. Prints per batch the folder's size before
# it, both times, the time per file and the ratio; with perf installed also
# the instructions of verrin-cli's put. The last line compares the time per
# file of the last batches with the first (1.00 = flat).
# Usage: bench/scale_bench.sh [BUILD_DIR] [BATCHES]   (default 30 batches)
set -euo pipefail
. "$(dirname "$0")/common.sh"
batches=${2:-30}
per=2000

dd if=/dev/zero of="$work/ours.img" bs=1M count=400 status=none
hformat -l Scale "$work/ours.img" >/dev/null
hmount "$work/ours.img" >/dev/null
hmkdir ':Many'
humount >/dev/null
cp "$work/ours.img" "$work/peer.img"

mkdir "$work/src"
for i in $(seq 1 $per); do head -c 4096 /dev/urandom > "$work/src/f$i"; done
# Each batch has its own names: hard links to the same 2,000 files.
link_batch() {
    mkdir "$work/b$1"
    perl -e 'my ($b, $d, $n) = @ARGV; for my $i (1 .. $n) { link("$d/src/f$i", "$d/b$b/b$b-$i") or die "$!" }' \
        "$1" "$work" "$per"
}
# Runs a command; prints its wall-clock and CPU (user + system) seconds.
measure() {
    /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$@" >/dev/null
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$work/time.txt"
}
# With perf, the put's user-space instructions are counted too.
counted=()
if perf stat -x, -e instructions:u true 2>&1 | grep -q '^[0-9]'; then
    counted=(perf stat -x, -e instructions:u -o "$work/perf.txt")
fi
instructions() {
    if [ ${#counted[@]} -gt 0 ]; then awk -F, '/instructions/ { printf "%.0fM", $1 / 1e6 }' "$work/perf.txt"
    else echo "-"; fi
}

printf '%8s %22s %22s %8s %8s %7s %12s\n' files "verrin-cli wall/cpu" "hcopy wall/cpu" "ms/file" "peer" ratio instructions
per_file_all=()
for k in $(seq 1 "$batches"); do
    link_batch "$k"
    names=("$work/b$k"/*)
    read -r ours ours_cpu < <(measure "${counted[@]}" "$cli" put "$work/ours.img" Many "${names[@]}")
    ins=$(instructions)
    hmount "$work/peer.img" >/dev/null
    read -r peer peer_cpu < <(measure hcopy -r "${names[@]}" ':Many:')
    humount >/dev/null
    rm -rf "$work/b$k"
    per_file=$(awk -v t="$ours" -v n="$per" 'BEGIN { printf "%.3f", 1000 * t / n }')
    peer_file=$(awk -v t="$peer" -v n="$per" 'BEGIN { printf "%.3f", 1000 * t / n }')
    per_file_all+=("$per_file")
    printf '%8d %13.3fs/%.3fs %13.3fs/%.3fs %8s %8s %7s %12s\n' $(( (k - 1) * per )) "$ours" "$ours_cpu" "$peer" \
        "$peer_cpu" "$per_file" "$peer_file" "$(ratio "$ours" "$peer")" "$ins"
done
"$cli" check "$work/ours.img" >/dev/null || { echo "the grown volume does not check clean" >&2; exit 1; }
hmount "$work/ours.img" >/dev/null
[ "$(hls ':Many' | wc -l)" -eq $(( batches * per )) ] || { echo "hls does not list every file" >&2; exit 1; }
humount >/dev/null
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
n=${#per_file_all[@]}
k=$(( n < 3 ? n : 3 ))
first=$(median "${per_file_all[@]:0:$k}")
last=$(median "${per_file_all[@]:$((n - k)):$k}")
printf 'time per file, median of the last %d batches against the first %d: %s\n' "$k" "$k" "$(ratio "$last" "$first")"
