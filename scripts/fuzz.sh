#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each for the given number of
# seconds (default 60): the image fuzzer from seed images made with hfsutils
# plus the small corpus diskettes, the write fuzzer from the same images
# (each behind a 4-byte seed for its changes), the BinHex/MacBinary fuzzer
# from the corpus's BinHex and MacBinary files (when the corpus is present).
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVERRIN_FUZZ=ON \
      -DVERRIN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" image_fuzz write_fuzz codec_fuzz

seeds="$build/seeds"
corpus="$build/corpus"
mkdir -p "$seeds" "$corpus"
if [ ! -f "$seeds/800k.img" ]; then
    work=$(mktemp -d)
    export HOME="$work"
    dd if=/dev/zero of="$seeds/800k.img" bs=1024 count=800 status=none
    hformat -l Seed "$seeds/800k.img" >/dev/null
    hmount "$seeds/800k.img" >/dev/null
    hmkdir ':Folder'
    hmkdir ':Folder:Inner'
    printf 'hello, world\r' > "$work/a.txt"
    head -c 70000 /dev/urandom > "$work/b.bin"
    hcopy -r "$work/a.txt" ':Folder:Note'
    hcopy -r "$work/b.bin" ':Folder:Inner:Blob'
    for i in $(seq 1 40); do hcopy -r "$work/a.txt" ":File $i"; done
    humount >/dev/null
    rm -rf "$work"
fi
shared="$root/../shared/corpus/hfs"
if [ -d "$shared" ]; then
    for f in "$shared"/*; do
        size=$(stat -c %s "$f")
        case "$f" in
            *.gz) gunzip -c "$f" > "$seeds/$(basename "${f%.gz}")" 2>/dev/null || true ;;
            *) [ "$size" -le 2000000 ] && cp "$f" "$seeds/" ;;
        esac
    done
    # Keep only seeds within the harness's size window.
    find "$seeds" -type f -size +8M -delete
fi
"$build/fuzz/image_fuzz" -max_total_time="$seconds" -max_len=2000000 -timeout=20 \
    -rss_limit_mb=2048 "$corpus" "$seeds"

# The write fuzzer reads a seed for its changes from the first 4 bytes.
write_seeds="$build/write-seeds"
write_corpus="$build/write-corpus"
mkdir -p "$write_seeds" "$write_corpus"
for f in "$seeds"/*; do
    [ "$(stat -c %s "$f")" -le 4194304 ] || continue
    out="$write_seeds/$(basename "$f")"
    [ -f "$out" ] || { printf 'seed'; cat "$f"; } > "$out"
done
"$build/fuzz/write_fuzz" -max_total_time="$seconds" -max_len=4200000 -timeout=20 \
    -rss_limit_mb=2048 "$write_corpus" "$write_seeds"

codec_seeds="$build/codec-seeds"
codec_corpus="$build/codec-corpus"
mkdir -p "$codec_seeds" "$codec_corpus"
for d in hqx macbinary; do
    [ -d "$root/../shared/corpus/$d" ] || continue
    # The harness reads the first byte as the decoder to use: 0 BinHex, 1 MacBinary.
    for f in "$root/../shared/corpus/$d"/*; do
        [ -f "$f" ] || continue
        out="$codec_seeds/$d-$(basename "$f")"
        [ -f "$out" ] && continue
        if [ "$d" = hqx ]; then printf '\000' > "$out"; else printf '\001' > "$out"; fi
        cat "$f" >> "$out"
    done
done
"$build/fuzz/codec_fuzz" -max_total_time="$seconds" -max_len=400000 -timeout=20 \
    -rss_limit_mb=2048 "$codec_corpus" "$codec_seeds"
