#!/usr/bin/env bash
# The main job from a fresh checkout: builds verrin-cli, makes a sample HFS
# image with hfsutils when none exists (or takes the image given), and shows
# what Verrin sees on it. Usage: scripts/demo.sh [IMAGE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/deps.sh
need_packages cmake ninja-build g++ hfsutils
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERRIN_TESTS=OFF >/dev/null
ninja -C build-demo verrin-cli >/dev/null
cli="$root/build-demo/verrin-cli"

image=${1:-"$root/sample.img"}
if [ ! -f "$image" ]; then
    echo "Making a sample 1.44 MB HFS diskette image: $image"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    export HOME="$work"
    dd if=/dev/zero of="$image" bs=1024 count=1440 status=none
    hformat -l "Sample Disk" "$image" >/dev/null
    hmount "$image" >/dev/null
    hmkdir ':Documents'
    printf 'Read me first.\rVerrin reads and writes HFS volumes.\r' > "$work/readme.txt"
    hcopy -t "$work/readme.txt" ':Read Me'
    hcopy -r "$root/README.md" ':Documents:README'
    humount >/dev/null
fi

run() { echo; echo "\$ verrin-cli $*"; "$cli" "$@"; }
run volumes "$image"
run info "$image"
run ls -l "$image"
run ls -l "$image" Documents
run check "$image"

# A copy in each direction: the text file out as PC text, this README in as
# a Mac text file, and the volume checked again.
out=$(mktemp -d)
run get -m text --overwrite "$image" "Read Me" "$out"
echo "--- $out/$(ls "$out")"; cat "$out"/*
run put -m text --overwrite --type TEXT --creator ttxt "$image" Documents "$root/README.md"
run ls -l "$image" Documents
run check "$image"
rm -rf "$out"
