#!/usr/bin/env bash
# Builds Pixolund, starts it on a virtual X server with a fresh user (empty settings, temporary
# folders) and drives it the way a user does with xdotool: adds PDFs through the file dialog,
# unlocks a protected file, converts, opens the About window. Saves what it sees in docs/:
#   screenshot.png   the main window: one file of each state and the password balloon
#   password.png     the password window over the main window
#   converting.png   a conversion under way, the bar over the Status cell
#   finished.png     the "Conversion finished!" window
#   about.png        the About window
#   scripts/screenshot.sh [output-folder]      (BUILD_DIR overrides the build folder)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$(mkdir -p "${1:-$root/docs}" && cd "${1:-$root/docs}" && pwd)

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target pixolund pi render_package -j2

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home/Documents" "$sandbox/config" "$sandbox/data" "$sandbox/tmp" "$sandbox/run" \
         "$sandbox/pdfs"
chmod 700 "$sandbox/run"
echo "XDG_DOCUMENTS_DIR=\"$sandbox/home/Documents\"" >"$sandbox/config/user-dirs.dirs"
/usr/bin/python3 "$root/tests/render/make_fixtures.py" "$sandbox/pdfs" >/dev/null
# A long manual, so the conversion can be seen under way; PNG at 300 DPI, remembered as a user's
# options are.
/usr/bin/python3 - "$root/tests/render" "$sandbox/pdfs/user manual.pdf" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import make_fixtures as m
open(sys.argv[2], "wb").write(m.document([(612, 792)] * 120, title=b"User manual"))
PY
mkdir -p "$sandbox/data/pixolund/settings"
printf '[System]\nOutputFormat=2\nDpi=300\n' >"$sandbox/data/pixolund/settings/pixolund-conf.ini"

export HOME=$sandbox/home XDG_CONFIG_HOME=$sandbox/config XDG_DATA_HOME=$sandbox/data \
       TMPDIR=$sandbox/tmp XDG_RUNTIME_DIR=$sandbox/run QT_QPA_PLATFORM=xcb \
       PIXOLUND=$build/bin/pixolund OUT=$out PDFS=$sandbox/pdfs
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR

xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" bash -c '
    set -euo pipefail
    cd "$HOME"
    "$PIXOLUND" &
    app=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Pixolund$" | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$window")"
    wx=$X; wy=$Y
    # Clicks at a point of the main window (client coordinates).
    at() { xdotool mousemove $((wx + $1)) $((wy + $2)) click 1; }
    # Row i of the file list, file name column.
    row() { at 60 $((111 + 26 * $1)); }
    shoot() { sleep "${2:-0.8}"; import -window root -crop 744x464+$wx+$wy +repage "$OUT/$1"; }
    # Waits until n windows titled "Pixolund" show (the main window, whose title tells the run
    # progress, and its dialogs).
    windows() {
        for _ in $(seq 1 720); do
            [ "$(xdotool search --onlyvisible --name "^Pixolund( - .*)?$" | wc -l)" -eq "$1" ] && return 0
            sleep 0.25
        done
        return 1
    }
    add_files() {
        at 60 38; sleep 1.5
        xdotool type --delay 20 "$PDFS/"; xdotool key Return; sleep 0.8
        xdotool type --delay 20 "$1"; xdotool key Return
        sleep 5
    }

    add_files "\"three.pdf\" \"aes-128.pdf\" \"damaged.pdf\" \"aes-256.pdf\""
    row 1; windows 2                       # the password window for aes-128.pdf
    xdotool type --delay 40 "secret"
    shoot password.png
    xdotool key Return; sleep 2
    add_files "\"twelve.pdf\""             # the balloon points at the file still locked
    xdotool mousemove $((wx + 330)) $((wy + 420))
    shoot screenshot.png

    add_files "\"user manual.pdf\""
    at 620 420                             # Start Convert
    sleep 1
    shoot converting.png 0
    windows 2
    shoot finished.png
    xdotool key Tab; sleep 0.2; xdotool key space; windows 1     # Close

    at 705 38; sleep 1.5                   # Help
    xdotool key Down Down Down Down Return; sleep 1.2
    about=$(timeout 30 xdotool search --sync --onlyvisible --name "^About$" | head -n 1)
    sleep 0.5
    import -window "$about" "$OUT/about.png"
    xdotool key Return; sleep 1

    kill "$app"
    wait "$app" 2>/dev/null || true
'
echo "Saved the screenshots in $out"
