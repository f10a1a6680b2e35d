# End-to-end test harness: verrin.exe under Wine on a virtual desktop in
# Xvfb, used by keys and clicks (xdotool) as a person would; winspy.exe
# tells where the controls are and what they show. Sourced by run.sh and
# the scenarios. Needs: BUILD_WIN (the Windows build folder), CLI (a native
# verrin-cli), OUT (where screenshots and scenario folders go).
#
# One Wine prefix and one X display serve every scenario; the prefix is
# created once (the slow part) and reused.

E2E_DESKTOP=verrin-e2e
E2E_SCREEN=1024x768

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$BUILD_WIN/wineprefix"
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)

e2e_fail() {
    echo "FAIL: $*" >&2
    e2e_shot "failure-$(date +%s)" || true
    exit 1
}

# Starts Xvfb on a free display and prepares the prefix: Courier New, the
# main window's face, is served by its metric twin Liberation Mono.
e2e_setup() {
    local n=91
    while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    export DISPLAY=":$n"
    Xvfb "$DISPLAY" -screen 0 "${E2E_SCREEN}x24" -nolisten tcp >/dev/null 2>&1 &
    E2E_XVFB=$!
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' /f \
        >/dev/null 2>&1
}

e2e_teardown() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "${E2E_XVFB:-}" ] && kill "$E2E_XVFB" 2>/dev/null || true
}

# A scenario's folder: the program with its own KVOL.INI beside it and a
# PC folder "pc" the program starts in. The settings file turns the device
# scans off, so that the Mac drives are the images it lists (given on
# standard input).
e2e_folder() {
    E2E_DIR="$OUT/$1"
    rm -rf "$E2E_DIR"
    mkdir -p "$E2E_DIR/pc"
    cp "$BUILD_WIN/verrin.exe" "$E2E_DIR/"
    {
        printf '[Disk Prefs]\nAddFloppy=NO\nAddCDROM=NO\nAddBIOS=NO\nAddASPI=NO\n'
        cat
    } > "$E2E_DIR/KVOL.INI"
}

# A scenario's folder whose settings list one image as a Mac drive.
e2e_folder_with_image() {
    e2e_folder "$1" < <(printf '[Disk Images]\nImage1=%s\n' "$(e2e_winpath "$2")")
}

# The Windows path of a file of the scenario.
e2e_winpath() { echo "Z:${1//\//\\}"; }

spy() { "$WINE" "$BUILD_WIN/tests/winspy.exe" -d "$E2E_DESKTOP" "$@" | tr -d '\r'; }

# Starts the program in the scenario folder's pc/ and waits for its window.
e2e_start() {
    (cd "$E2E_DIR/pc" && exec "$WINE" explorer "/desktop=$E2E_DESKTOP,$E2E_SCREEN" "$E2E_DIR/verrin.exe" \
        >/dev/null 2>&1) &
    E2E_WINE=$!
    spy wait class:KvolClass 20 || spy wait Error 5 || e2e_fail "the main window did not open"
    sleep 0.5
    # Keys reach the program only while its desktop has the X focus.
    E2E_DESK=$(xdotool search --name "^$E2E_DESKTOP - Wine desktop\$" | head -1)
    xdotool windowfocus --sync "$E2E_DESK" 2>/dev/null || true
}

# Waits for the program to end (after Exit or Escape).
e2e_wait_end() {
    for _ in $(seq 100); do
        kill -0 "$E2E_WINE" 2>/dev/null || return 0
        sleep 0.1
    done
    e2e_fail "the program did not end"
}

key() { xdotool key --delay 60 "$@"; sleep 0.3; }
type_text() { xdotool type --delay 30 "$1"; sleep 0.2; }

click_at() {
    xdotool mousemove "$1" "$2" click 1
    sleep 0.4
}
dclick_at() {
    xdotool mousemove "$1" "$2" click --repeat 2 --delay 80 1
    sleep 0.6
}

# A click on a control (its centre) or on a list row of a window.
click() { click_at $(spy center "$1" "$2") || e2e_fail "no control $2 in $1"; }
click_row() { click_at $(spy row "$1" "$2" "$3") || e2e_fail "no row $3 in list $2"; }
dclick_row() { dclick_at $(spy row "$1" "$2" "$3") || e2e_fail "no row $3 in list $2"; }

# Waits for a window with this title, or fails.
expect_window() { spy wait "$1" "${2:-20}" || e2e_fail "no window \"$1\""; }
expect_no_window() { spy gone "$1" "${2:-20}" || e2e_fail "window \"$1\" still open"; }

expect_eq() {
    [ "$1" = "$2" ] || e2e_fail "$3: expected [$2], got [$1]"
}

expect_contains() {
    grep -qF -- "$2" <<<"$1" || e2e_fail "$3: [$2] not in [$1]"
}

# A screenshot of the desktop into OUT.
e2e_shot() {
    import -window root -crop "$E2E_SCREEN+0+0" "$OUT/$1.png" 2>/dev/null
    echo "  screenshot $OUT/$1.png"
}

# A sample 1.44 MB HFS diskette image: a text file "Read Me" at the root
# and a small tree, Documents:Letters:Letter.
e2e_sample_image() {
    local image=$1 work
    work=$(mktemp -d)
    "$CLI" format "$image" --name "Sample Disk" --diskette >/dev/null
    "$CLI" mkdir "$image" Documents >/dev/null
    "$CLI" mkdir "$image" Documents:Letters >/dev/null
    printf 'Read me first.\rVerrin reads and writes HFS volumes.\r' > "$work/Read Me"
    printf 'Dear reader,\r' > "$work/Letter"
    "$CLI" put -m text --type TEXT --creator ttxt "$image" "" "$work/Read Me" >/dev/null
    "$CLI" put -m text --type TEXT --creator ttxt "$image" Documents:Letters "$work/Letter" >/dev/null
    rm -rf "$work"
}

# Picks the last drive of the "Mac Drive:" box (the image last listed) and
# opens the first volume on it.
e2e_open_first_volume() {
    click class:KvolClass 117            # drops the drive list
    key End Return
    expect_eq "$(spy list class:KvolClass 119)" "count 1 selected " "volume list of the drive"
    dclick_row class:KvolClass 119 0
}

# Runs the Copy command on the active side with translation LETTER (the
# first letter of its name in the copy settings list) and confirms it;
# SHOT names a screenshot of the settings dialog.
e2e_copy() {
    local direction=$1 letter=$2 shot=${3:-}
    key alt+c
    expect_window "$direction Copy Settings"
    key "$letter"
    [ -n "$shot" ] && e2e_shot "$shot"
    key Return
    expect_window "Ready to copy from $direction"
    key Return
}
