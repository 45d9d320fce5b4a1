#!/usr/bin/env bash
# Builds Pixolund, starts it on a virtual X server under openbox with a fresh user (empty
# settings, temporary folders, the DejaVu fonts of a clean Debian alone) and drives it from the
# keyboard only, the way a user without a mouse does: Ctrl+O adds PDFs through the file dialog,
# Enter on a locked row unlocks it, Ctrl+Return converts, Alt+H opens the help menu. Saves what
# it sees:
#   screenshot.png   the main window: one file of each state and the password balloon
#   focus.png        the keyboard's focus out of the list, on the next control
#   password.png     the password window over the main window
#   converting.png   a conversion under way: the bar over the Status cell, the progress in the title
#   finished.png     the "Conversion finished!" window with the run's summary
#   about.png        the About window
#   scripts/screenshot.sh [output-folder]      (default docs/)
# BUILD_DIR overrides the build folder; FONT_SCALE=1.5 enlarges the desktop font; QT_SCALE_FACTOR
# is passed on.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=$(mkdir -p "${1:-$root/docs}" && cd "${1:-$root/docs}" && pwd)
for tool in Xvfb openbox xdotool import; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup.sh" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target pixolund pixolund-window pi render_package -j2

sandbox=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$sandbox"
}
trap cleanup EXIT
mkdir -p "$sandbox/home/Documents" "$sandbox/config" "$sandbox/data" "$sandbox/tmp" "$sandbox/run" \
         "$sandbox/pdfs" "$sandbox/fonts"
chmod 700 "$sandbox/run"
echo "XDG_DOCUMENTS_DIR=\"$sandbox/home/Documents\"" >"$sandbox/config/user-dirs.dirs"
printf '<?xml version="1.0"?><!DOCTYPE fontconfig SYSTEM "fonts.dtd"><fontconfig><dir>%s</dir><cachedir>%s</cachedir></fontconfig>\n' \
    /usr/share/fonts/truetype/dejavu "$sandbox/fonts" >"$sandbox/fonts.conf"
/usr/bin/python3 "$root/tests/render/make_fixtures.py" "$sandbox/pdfs" >/dev/null
cp "$sandbox/pdfs/three.pdf" "$sandbox/pdfs/notes.pdf" # deleted before Start
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

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 2048x1400x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

export DISPLAY=:$display HOME=$sandbox/home XDG_CONFIG_HOME=$sandbox/config \
       XDG_DATA_HOME=$sandbox/data TMPDIR=$sandbox/tmp XDG_RUNTIME_DIR=$sandbox/run \
       QT_QPA_PLATFORM=xcb FONTCONFIG_FILE=$sandbox/fonts.conf \
       PIXOLUND=$build/bin/pixolund OUT=$out PDFS=$sandbox/pdfs
unset QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_FONT_DPI
[ -n "${FONT_SCALE:-}" ] && export QT_FONT_DPI=$(awk "BEGIN { print int(96 * $FONT_SCALE) }")

bash -c '
    set -euo pipefail
    cd "$HOME"
    openbox >/dev/null 2>&1 &
    # Until the window manager runs, new windows are not mapped and keys reach no one.
    for _ in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.2
    done
    sleep 0.5
    "$PIXOLUND" &
    app=$!
    main=$(timeout 30 xdotool search --sync --onlyvisible --name "^Pixolund$" | head -n 1)
    sleep 1
    # Waits until n windows whose title starts with "Pixolund" show (the main window, whose
    # title tells the run progress, and its dialogs).
    windows() {
        for _ in $(seq 1 720); do
            [ "$(xdotool search --onlyvisible --name "^Pixolund" | wc -l)" -eq "$1" ] && return 0
            sleep 0.25
        done
        echo "expected $1 windows" >&2
        return 1
    }
    # The main window with its frame, and whatever lies above it.
    shoot() {
        sleep "${2:-0.8}"
        local x y w h left right top bottom
        read -r x y w h <<<"$(xwininfo -id "$main" | sed -n "s/.*Absolute upper-left X: *//p;s/.*Absolute upper-left Y: *//p;s/.*Width: *//p;s/.*Height: *//p" | tr "\n" " ")"
        read -r left right top bottom <<<"$(xprop -id "$main" _NET_FRAME_EXTENTS | sed "s/.*= *//;s/,//g")"
        import -window root -crop "$((w + left + right))x$((h + top + bottom))+$((x - left))+$((y - top))" \
            +repage "$OUT/$1"
    }
    add_files() {
        xdotool key ctrl+o; sleep 1.5
        xdotool type --delay 20 "$PDFS/"; xdotool key Return; sleep 0.8
        xdotool type --delay 20 "$1"; xdotool key Return
        # The files are read in a window titled "done/total", which takes the keys until it closes.
        sleep 1.5
        while xdotool search --onlyvisible --name "^[0-9]+/[0-9]+$" >/dev/null; do sleep 0.25; done
        windows 1; sleep 1
    }

    add_files "\"three.pdf\" \"aes-128.pdf\" \"damaged.pdf\" \"aes-256.pdf\" \"notes.pdf\""
    # The list has the keyboard: to the first locked row, Enter, the password.
    xdotool key Home Down Return; windows 2
    xdotool type --delay 40 "secret"
    shoot password.png
    xdotool key Return; sleep 2
    add_files "\"twelve.pdf\""             # the balloon points at the file still locked
    shoot screenshot.png
    # Tab leaves the list, Shift+Tab comes back to it; the focus shows on the button.
    xdotool key Tab; sleep 0.5
    shoot focus.png 0.3
    xdotool key shift+Tab; sleep 0.3

    add_files "\"user manual.pdf\""
    rm "$PDFS/notes.pdf"
    xdotool key ctrl+Return
    sleep 2
    shoot converting.png 0
    windows 2
    shoot finished.png
    xdotool key Escape; windows 1

    xdotool key alt+h; sleep 1           # the help menu; its last item is About
    xdotool key Up Return
    about=$(timeout 30 xdotool search --sync --onlyvisible --name "^About$" | head -n 1)
    sleep 0.8
    import -window "$about" -frame "$OUT/about.png"
    xdotool key Return; sleep 1

    kill "$app"
    wait "$app" 2>/dev/null || true
'
echo "Saved the screenshots in $out"
