#!/usr/bin/env bash
# Tree benchmark: a PC tree of 2,000 files (20 folders of 100 files, 1 to
# 16 KB each) into a fresh volume with verrin-cli put -r and back out with
# get -r, against hfsutils copying the same 2,000 files in one hcopy process
# each way (into and out of one folder: hcopy makes no folders), and, as a
# second peer figure, hfsutils recreating the tree (one hmkdir, then one
# hcopy per folder). Best of RUNS for each; every copy is compared with the
# source tree. Prints the times and the ratios (ours / peer).
# Usage: bench/tree_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
. "$(dirname "$0")/common.sh"
runs="${2:-3}"
folders=20
per=100

mkdir -p "$work/src/top" "$work/out"
perl -e 'my ($top, $folders, $per) = @ARGV; srand(7);
    for my $d (1 .. $folders) {
        my $dir = sprintf("%s/d%02d", $top, $d);
        mkdir $dir or die "$!";
        for my $f (1 .. $per) {
            my $name = sprintf("%s/d%02d-f%03d.dat", $dir, $d, $f);
            open(my $h, ">", $name) or die "$!";
            print $h join("", map { chr(int(rand(256))) } 1 .. 1024 + int(rand(15 * 1024)));
            close $h;
        }
    }' "$work/src/top" "$folders" "$per"
all=("$work"/src/top/d*/*)
printf '[Main Prefs]\n' > "$work/KVOL.INI"

report() {  # label ours peer
    awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN { printf "  %-22s ours %7.3fs  peer %7.3fs  ratio %.2f\n", l, a, b, (b > 0 ? a / b : 0) }'
}
fresh() {  # image
    truncate -s 0 "$1"
    truncate -s 64M "$1"
    hformat -l Tree "$1" >/dev/null
}
same() {  # pc-tree-a pc-tree-b what
    diff -r "$1" "$2" >/dev/null || { echo "$3 differs from the source tree" >&2; exit 1; }
}

put_ours=(); put_flat=(); put_tree=(); get_ours=(); get_flat=(); get_tree=()
for _ in $(seq 1 "$runs"); do
    # Into a volume.
    fresh "$work/ours.img"
    t0=$(now); "$cli" put -r -y --ini "$work/KVOL.INI" "$work/ours.img" : "$work/src/top"; t1=$(now)
    put_ours+=("$(elapsed "$t0" "$t1")")
    fresh "$work/flat.img"
    hmount "$work/flat.img" >/dev/null
    hmkdir :flat
    t0=$(now); hcopy -r "${all[@]}" :flat:; t1=$(now)
    put_flat+=("$(elapsed "$t0" "$t1")")
    humount >/dev/null
    fresh "$work/tree.img"
    hmount "$work/tree.img" >/dev/null
    t0=$(now)
    mkdirs=(:top)
    for d in "$work"/src/top/d*; do mkdirs+=(":top:$(basename "$d")"); done
    hmkdir "${mkdirs[@]}"
    for d in "$work"/src/top/d*; do hcopy -r "$d"/* ":top:$(basename "$d"):"; done
    t1=$(now)
    put_tree+=("$(elapsed "$t0" "$t1")")
    humount >/dev/null

    # Out of a volume (ours from our image; hfsutils from its own).
    rm -rf "$work/out"/*
    mkdir "$work/out/ours" "$work/out/flat" "$work/out/tree"
    t0=$(now); "$cli" get -r -y --ini "$work/KVOL.INI" "$work/ours.img" top "$work/out/ours"; t1=$(now)
    get_ours+=("$(elapsed "$t0" "$t1")")
    hmount "$work/flat.img" >/dev/null
    t0=$(now); hcopy -r ':flat:*' "$work/out/flat/"; t1=$(now)
    get_flat+=("$(elapsed "$t0" "$t1")")
    humount >/dev/null
    hmount "$work/tree.img" >/dev/null
    t0=$(now)
    for d in "$work"/src/top/d*; do
        mkdir "$work/out/tree/$(basename "$d")"
        hcopy -r ":top:$(basename "$d"):*" "$work/out/tree/$(basename "$d")/"
    done
    t1=$(now)
    get_tree+=("$(elapsed "$t0" "$t1")")
    humount >/dev/null

    same "$work/src/top" "$work/out/ours/top" "verrin-cli's put -r and get -r"
    same "$work/src/top" "$work/out/tree" "hfsutils' tree copy"
    [ "$(ls "$work/out/flat" | wc -l)" -eq $((folders * per)) ] || { echo "hcopy did not copy every file" >&2; exit 1; }
done
"$cli" check "$work/ours.img" >/dev/null || { echo "verrin-cli check fails on the copied tree" >&2; exit 1; }
hmount "$work/ours.img" >/dev/null
[ "$(hls -R :top | grep -c '\.dat$')" -eq $((folders * per)) ] || { echo "hls does not list every file" >&2; exit 1; }
humount >/dev/null

echo "$((folders * per)) files in $folders folders, best of $runs:"
report "put -r / hcopy once" "$(best "${put_ours[@]}")" "$(best "${put_flat[@]}")"
report "put -r / hfsutils tree" "$(best "${put_ours[@]}")" "$(best "${put_tree[@]}")"
report "get -r / hcopy once" "$(best "${get_ours[@]}")" "$(best "${get_flat[@]}")"
report "get -r / hfsutils tree" "$(best "${get_ours[@]}")" "$(best "${get_tree[@]}")"
