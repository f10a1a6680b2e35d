#!/usr/bin/env bash
# Scale benchmark, in two parts, verrin-cli against hfsutils in the same run.
#
# grow: one folder grown to 60,000 files by puts of 2,000 files of 4 KB
# each, verrin-cli into one image and hcopy -r into an identical one, batch
# by batch. Per batch: the folder's size before it, both times, the time
# per file, the ratio, and the system calls of both (strace -c -f, counted
# on a scratch copy of each image so the timed runs are not traced); the
# user-space instructions of both with perf, or with INSTRUCTIONS=valgrind
# (cachegrind, on scratch copies too: slow). Then, in the full folder: ls
# and ls -l against hls -1 and hls -la, check, rm of 2,000 files against
# hdel, and a rename against hrename, with peak memory.
#
# big: a 2 GB volume holding 65,000 files in 1,000 folders (made by
# verrin-cli): info against hvol, ls -R against hls -R, check, a put of 65
# files into a new folder and rm -r of it, each with its time and peak
# memory.
#
# Every comparison prints its ratio (verrin-cli / hfsutils). The last line
# of the grow part compares the time per file of the last batches with the
# first (1.00 = flat).
# Usage: bench/scale_bench.sh [BUILD_DIR] [BATCHES] [PART]
#   BATCHES defaults to 30; PART is grow, big or all (the default).
set -euo pipefail
. "$(dirname "$0")/common.sh"
batches=${2:-30}
part=${3:-all}
per=2000
export TZ=UTC

# Instructions: perf counts the timed run itself; cachegrind needs a run of
# its own.
counted=()
if perf stat -x, -e instructions:u true 2>&1 | grep -q '^[0-9]'; then
    counted=(perf stat -x, -e instructions:u -o "$work/perf.txt")
fi
valgrind_counts=false
if [ "${INSTRUCTIONS:-}" = valgrind ] && command -v valgrind >/dev/null; then valgrind_counts=true; fi
perf_instructions() { awk -F, '/instructions/ { printf "%.0fM", $1 / 1e6 }' "$work/perf.txt"; }
valgrind_instructions() {
    valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=/dev/null --log-file="$work/vg.txt" \
        "$@" >/dev/null
    awk '/I *refs/ { gsub(",", "", $NF); printf "%.0fM", $NF / 1e6 }' "$work/vg.txt"
}
# Runs a command; prints its wall-clock and CPU (user + system) seconds.
measure() {
    /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$@" >/dev/null
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$work/time.txt"
}
scratch() { cp --sparse=always "$1" "$work/scratch.img"; }

grow() {
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

    printf '%8s %20s %20s %7s %7s %6s %15s %15s\n' files "verrin-cli wall/cpu" "hcopy wall/cpu" ms/file peer \
        ratio "syscalls o/p" "instr o/p"
    per_file_all=()
    for k in $(seq 1 "$batches"); do
        link_batch "$k"
        names=("$work/b$k"/*)
        scratch "$work/ours.img"; ours_sys=$(syscalls "$cli" put "$work/scratch.img" Many "${names[@]}")
        scratch "$work/peer.img"; hmount "$work/scratch.img" >/dev/null
        peer_sys=$(syscalls hcopy -r "${names[@]}" ':Many:'); humount >/dev/null
        ins="-/-"
        if $valgrind_counts; then
            scratch "$work/ours.img"; a=$(valgrind_instructions "$cli" put "$work/scratch.img" Many "${names[@]}")
            scratch "$work/peer.img"; hmount "$work/scratch.img" >/dev/null
            b=$(valgrind_instructions hcopy -r "${names[@]}" ':Many:'); humount >/dev/null
            ins="$a/$b"
        fi
        if [ ${#counted[@]} -gt 0 ]; then
            read -r ours ours_cpu < <(measure "${counted[@]}" "$cli" put "$work/ours.img" Many "${names[@]}")
            a=$(perf_instructions)
            hmount "$work/peer.img" >/dev/null
            read -r peer peer_cpu < <(measure "${counted[@]}" hcopy -r "${names[@]}" ':Many:')
            humount >/dev/null
            ins="$a/$(perf_instructions)"
        else
            read -r ours ours_cpu < <(measure "$cli" put "$work/ours.img" Many "${names[@]}")
            hmount "$work/peer.img" >/dev/null
            read -r peer peer_cpu < <(measure hcopy -r "${names[@]}" ':Many:')
            humount >/dev/null
        fi
        rm -rf "$work/b$k"
        per_file=$(awk -v t="$ours" -v n="$per" 'BEGIN { printf "%.3f", 1000 * t / n }')
        peer_file=$(awk -v t="$peer" -v n="$per" 'BEGIN { printf "%.3f", 1000 * t / n }')
        per_file_all+=("$per_file")
        printf '%8d %11.3fs/%.3fs %11.3fs/%.3fs %7s %7s %6s %15s %15s\n' $(( (k - 1) * per )) "$ours" "$ours_cpu" \
            "$peer" "$peer_cpu" "$per_file" "$peer_file" "$(ratio "$ours" "$peer")" "$ours_sys/$peer_sys" "$ins"
    done
    rm -f "$work/scratch.img"
    "$cli" check "$work/ours.img" >/dev/null || { echo "the grown volume does not check clean" >&2; exit 1; }
    hmount "$work/ours.img" >/dev/null
    [ "$(hls ':Many' | wc -l)" -eq $(( batches * per )) ] || { echo "hls does not list every file" >&2; exit 1; }
    humount >/dev/null
    n=${#per_file_all[@]}
    k=$(( n < 3 ? n : 3 ))
    first=$(median "${per_file_all[@]:0:$k}")
    last=$(median "${per_file_all[@]:$((n - k)):$k}")
    printf 'time per file, median of the last %d batches against the first %d: %s\n' "$k" "$k" "$(ratio "$last" "$first")"

    # The full folder: each side works on its own image.
    local files=$(( batches * per ))
    echo
    printf '%-30s %9s %9s %6s %13s %15s\n' "in the folder of $files" verrin-cli hfsutils ratio "peak MB o/p" "syscalls o/p"
    compare() {  # LABEL OURS-COMMAND -- PEER-COMMAND (the peer runs on peer.img, mounted)
        local label=$1; shift
        local ours_cmd=() peer_cmd=()
        while [ "$1" != -- ]; do ours_cmd+=("$1"); shift; done
        shift
        peer_cmd=("$@")
        hmount "$work/peer.img" >/dev/null
        local a b pa pb sa sb
        read -r a pa < <(wall_and_peak "${ours_cmd[@]}")
        read -r b pb < <(wall_and_peak "${peer_cmd[@]}")
        sa=$(syscalls "${ours_cmd[@]}"); sb=$(syscalls "${peer_cmd[@]}")
        humount >/dev/null
        printf '%-30s %8.3fs %8.3fs %6s %13s %15s\n' "$label" "$a" "$b" "$(ratio "$a" "$b")" "$pa/$pb" "$sa/$sb"
    }
    compare "ls / hls -1" "$cli" ls "$work/ours.img" Many -- hls -1 ':Many'
    compare "ls -l / hls -la" "$cli" ls -l "$work/ours.img" Many -- hls -la ':Many'
    local c pc
    read -r c pc < <(wall_and_peak "$cli" check "$work/ours.img")
    printf '%-30s %8.3fs %9s %6s %13s %15s\n' "check" "$c" - - "$pc/-" "$(syscalls "$cli" check "$work/ours.img")/-"
    # rm and rename change the images, so each runs once per side.
    local gone=() peer_gone=()
    for i in $(seq 1 $per); do gone+=("Many:b1-$i"); peer_gone+=(":Many:b1-$i"); done
    hmount "$work/peer.img" >/dev/null
    read -r a pa < <(wall_and_peak "$cli" rm "$work/ours.img" "${gone[@]}")
    read -r b pb < <(wall_and_peak hdel "${peer_gone[@]}")
    printf '%-30s %8.3fs %8.3fs %6s %13s %15s\n' "rm 2,000 / hdel" "$a" "$b" "$(ratio "$a" "$b")" "$pa/$pb" -
    local ra=() rb=()
    for r in 1 2 3 4 5; do
        local from="b2-$((r * 100))" to="renamed-$r"
        if ((r % 2)); then
            ra+=("$(timed "$cli" rename "$work/ours.img" "Many:$from" "$to")")
            rb+=("$(timed hrename ":Many:$from" ":Many:$to")")
        else
            rb+=("$(timed hrename ":Many:$from" ":Many:$to")")
            ra+=("$(timed "$cli" rename "$work/ours.img" "Many:$from" "$to")")
        fi
    done
    humount >/dev/null
    a=$(median "${ra[@]}"); b=$(median "${rb[@]}")
    printf '%-30s %8.4fs %8.4fs %6s  (median of 5 each)\n' "rename / hrename" "$a" "$b" "$(ratio "$a" "$b")"
    "$cli" check "$work/ours.img" >/dev/null || { echo "the volume does not check clean after rm and rename" >&2; exit 1; }
    rm -f "$work/ours.img" "$work/peer.img"
}

big() {
    local img="$work/big.img"
    truncate -s 2G "$img"
    hformat -l Big "$img" >/dev/null
    # 65 files per folder, a fifth of them empty, the rest up to 24 KB: the
    # volume's 32 KB blocks leave room for all 65,000.
    mkdir "$work/s65"
    for i in $(seq 1 65); do
        if ((i % 5 == 0)); then : > "$work/s65/file$i"
        else head -c $(( (i * 7919) % 24000 + 100 )) /dev/urandom > "$work/s65/file$i"; fi
    done
    local t0=$EPOCHREALTIME
    for d in $(seq 1 1000); do
        "$cli" mkdir "$img" "D$d" >/dev/null
        "$cli" put "$img" "D$d" "$work/s65"/* >/dev/null
    done
    echo
    printf '2 GB volume, 65,000 files in 1,000 folders (made in %.1fs by 1,000 mkdir and put)\n' \
        "$(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')"
    printf '%-30s %9s %9s %6s %13s\n' "" verrin-cli hfsutils ratio "peak MB o/p"
    hmount "$img" >/dev/null
    local a pa b pb
    read -r a pa < <(wall_and_peak "$cli" info "$img")
    read -r b pb < <(wall_and_peak hvol)
    printf '%-30s %8.3fs %8.3fs %6s %13s\n' "info / hvol" "$a" "$b" "$(ratio "$a" "$b")" "$pa/$pb"
    read -r a pa < <(wall_and_peak "$cli" ls -R "$img")
    read -r b pb < <(wall_and_peak hls -R ':')
    printf '%-30s %8.3fs %8.3fs %6s %13s\n' "ls -R / hls -R" "$a" "$b" "$(ratio "$a" "$b")" "$pa/$pb"
    [ "$("$cli" ls -R "$img" | grep -c '^file')" -eq 65000 ] || { echo "ls -R does not list 65,000 files" >&2; exit 1; }
    humount >/dev/null
    read -r a pa < <(wall_and_peak "$cli" check "$img")
    printf '%-30s %8.3fs %9s %6s %13s\n' "check" "$a" - - "$pa/-"
    "$cli" mkdir "$img" New >/dev/null
    read -r a pa < <(wall_and_peak "$cli" put "$img" New "$work/s65"/*)
    printf '%-30s %8.3fs %9s %6s %13s\n' "put 65 files" "$a" - - "$pa/-"
    read -r a pa < <(wall_and_peak "$cli" rm -r "$img" New)
    printf '%-30s %8.3fs %9s %6s %13s\n' "rm -r of them" "$a" - - "$pa/-"
    "$cli" check "$img" >/dev/null || { echo "the 2 GB volume does not check clean" >&2; exit 1; }
}

case "$part" in
grow) grow ;;
big) big ;;
all) grow; big ;;
*) echo "PART is grow, big or all" >&2; exit 2 ;;
esac
