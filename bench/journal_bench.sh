#!/usr/bin/env bash
# What the rollback journal and the syncs cost: the same changes with them
# and without them (VERRIN_BENCH_NO_JOURNAL, honoured for benchmarks only),
# each on its own copy of one fresh image, best of three runs:
#   - 50 single-file puts, one command each;
#   - one put of 2,000 small files (one commit);
#   - the window's batch copy of the 2,000-file folder (verrin-batch-bench;
#     it commits groups of files);
#   - an rm -r of the 2,000-file folder.
# The times depend on the disk under TMPDIR (its sync latency): run it on
# the disk that matters. Prints each time and the ratio with/without.
# Usage: bench/journal_bench.sh [BUILD_DIR]
set -euo pipefail
. "$(dirname "$0")/common.sh"
batch="$(dirname "$cli")/verrin-batch-bench"
[ -x "$batch" ] || { echo "build verrin-batch-bench first (ninja -C build verrin-batch-bench)" >&2; exit 1; }

dd if=/dev/zero of="$work/fresh.img" bs=1M count=100 status=none
hformat -l Bench "$work/fresh.img" >/dev/null
mkdir "$work/src" "$work/one"
for i in $(seq 1 2000); do printf 'small file number %d\n' "$i" > "$work/src/f$i"; done
for i in $(seq 1 50); do printf 'single %d\n' "$i" > "$work/one/s$i"; done
small=("$work"/src/f*)

# Runs one scenario ($2..) on a fresh copy, with the journal ($1 = on) or
# without; prints its seconds.
scenario() {
    local mode=$1 what=$2 t0 t1
    cp "$work/fresh.img" "$work/run.img"
    if [ "$what" = rm ]; then
        "$cli" mkdir "$work/run.img" Many
        "$cli" put "$work/run.img" Many "${small[@]}"
    fi
    [ "$mode" = on ] && unset VERRIN_BENCH_NO_JOURNAL || export VERRIN_BENCH_NO_JOURNAL=1
    t0=$(now)
    case $what in
        single) for f in "$work"/one/s*; do "$cli" put "$work/run.img" : "$f"; done ;;
        put) "$cli" put "$work/run.img" : "${small[@]}" ;;
        batch) "$batch" "$work/run.img" "$work/src" >/dev/null ;;
        rm) "$cli" rm -r "$work/run.img" Many ;;
    esac
    t1=$(now)
    unset VERRIN_BENCH_NO_JOURNAL
    "$cli" check "$work/run.img" >/dev/null || { echo "$what ($mode): the volume does not check clean" >&2; exit 1; }
    elapsed "$t0" "$t1"
}

report() {
    local label=$1 what=$2 on=() off=()
    for _ in 1 2 3; do on+=("$(scenario on "$what")"); off+=("$(scenario off "$what")"); done
    local a b
    a=$(best "${on[@]}"); b=$(best "${off[@]}")
    printf '%-42s journal+sync %8.3fs  without %8.3fs  ratio %s\n' "$label" "$a" "$b" "$(ratio "$a" "$b")"
}

report "50 single-file puts (50 commands):" single
report "put of 2,000 files (one commit):" put
report "batch copy of 2,000 files (the window's):" batch
report "rm -r of a 2,000-file folder:" rm
