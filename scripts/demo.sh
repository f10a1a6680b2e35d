#!/usr/bin/env bash
# The main job from a fresh checkout: builds verrin.exe (and verrin-cli),
# makes a sample HFS diskette image with verrin-cli on the first run (or
# takes the image given), lists it as a Mac drive in KVOL.INI beside the
# program, and starts the program under Wine.
# With a display (DISPLAY set) the window stays open until you close it.
# Without one the script starts its own Xvfb, takes a screenshot once the
# window is open, prints the screenshot's path and ends the program.
# Usage: scripts/demo.sh [IMAGE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/deps.sh
need_packages cmake ninja-build g++ mingw-w64 wine64 wine xvfb xdotool imagemagick x11-utils fonts-liberation

echo "Building verrin-cli and verrin.exe (the first build takes a few minutes)"
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERRIN_TESTS=OFF >/dev/null
ninja -C build-demo verrin-cli >/dev/null
[ -f build-demo-win/CMakeCache.txt ] ||
    cmake -S . -B build-demo-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERRIN_TESTS=OFF \
          -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
ninja -C build-demo-win verrin >/dev/null
cli="$root/build-demo/verrin-cli"
program_dir="$root/build-demo-win"

image=$(realpath -m "${1:-$root/sample.img}")
if [ ! -f "$image" ]; then
    echo "Making a sample 1.44 MB HFS diskette image: $image"
    work=$(mktemp -d)
    "$cli" format "$image" --name "Sample Disk" --diskette >/dev/null
    "$cli" mkdir "$image" Documents >/dev/null
    printf 'Read me first.\rVerrin reads and writes HFS volumes.\r' > "$work/Read Me"
    "$cli" put -m text --type TEXT --creator ttxt "$image" "" "$work/Read Me" >/dev/null
    "$cli" put -m text --type TEXT --creator ttxt "$image" Documents "$root/README.md" >/dev/null
    rm -rf "$work"
fi
echo "\$ verrin-cli ls -l $image"
"$cli" ls -l "$image"

# The image is the program's Mac drive; the program starts in the folder
# of the image, its PC side.
winpath() { echo "Z:${1//\//\\}"; }
ini="$program_dir/KVOL.INI"
touch "$ini"
grep -q '^\[Disk Images\]' "$ini" 2>/dev/null || printf '[Disk Images]\r\nImage1=%s\r\n' "$(winpath "$image")" >> "$ini"

export WINEPREFIX="$program_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
own_display=
if [ -z "${DISPLAY:-}" ]; then
    n=71
    while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    export DISPLAY=":$n"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    own_display=$!
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
# Courier New, the main window's face, comes from its metric twin.
"$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' /f >/dev/null 2>&1

cd "$(dirname "$image")"
if [ -z "$own_display" ]; then
    echo "Starting verrin.exe under Wine; close its window (or press Escape) to end."
    exec "$wine" "$program_dir/verrin.exe"
fi

# No display of our own: run on a virtual desktop, which draws the window's
# frame and caption, and take a screenshot once the window is open.
"$wine" explorer /desktop=Verrin,1024x768 "$program_dir/verrin.exe" >/dev/null 2>&1 &
program=$!
shot="$program_dir/verrin-window.png"
opened=
for _ in $(seq 60); do
    sleep 1
    if import -window root -crop 680x420+0+0 "$shot" 2>/dev/null &&
        [ "$(convert "$shot" -format %k info:)" -gt 8 ]; then
        opened=1
        break
    fi
done
if [ -n "$opened" ]; then
    # As a person would with the keyboard: Tab to the "Mac Drive:" box, pick
    # its last drive (the image, after any devices), Tab to the Mac list and
    # open the volume with Enter.
    desktop=$(xdotool search --name '^Verrin - Wine desktop$' | head -1)
    xdotool windowfocus --sync "$desktop" 2>/dev/null || true
    xdotool mousemove 300 11 click 1     # the window's caption: it takes the keys
    sleep 0.5
    xdotool key --delay 150 Tab Tab Tab Tab Tab Down End Return
    sleep 1
    xdotool key --delay 150 Tab Down Return
    sleep 2
    import -window root -crop 680x420+0+0 "$shot"
fi
"$wineserver" -k >/dev/null 2>&1 || true
kill "$program" 2>/dev/null || true
kill "$own_display" 2>/dev/null || true
[ -n "$opened" ] || { echo "The window did not open." >&2; exit 1; }
echo "Screenshot of the window: $shot"
