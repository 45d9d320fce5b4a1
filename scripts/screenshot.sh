#!/usr/bin/env bash
# Builds Pixolund, starts it on a virtual X server with a fresh user (empty settings, temporary
# folders) and saves a picture of the main window as docs/screenshot.png.
#   scripts/screenshot.sh [output.png]      (BUILD_DIR overrides the build folder)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/docs/screenshot.png}

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target pixolund -j2

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home" "$sandbox/config" "$sandbox/data" "$sandbox/tmp" "$sandbox/run"
chmod 700 "$sandbox/run"
# A documents folder the way a user's looks; the program does not create it at start-up.
echo 'XDG_DOCUMENTS_DIR="/home/user/Documents"' >"$sandbox/config/user-dirs.dirs"

export HOME=$sandbox/home XDG_CONFIG_HOME=$sandbox/config XDG_DATA_HOME=$sandbox/data \
       TMPDIR=$sandbox/tmp \
       XDG_RUNTIME_DIR=$sandbox/run QT_QPA_PLATFORM=xcb PIXOLUND=$build/bin/pixolund OUT=$out
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR

xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" bash -c '
    set -euo pipefail
    "$PIXOLUND" &
    app=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Pixolund$" | head -n 1)
    # Let the window paint completely before it is taken.
    for _ in 1 2 3 4 5; do sleep 0.4; done
    mkdir -p "$(dirname "$OUT")"
    import -window "$window" "$OUT"
    kill "$app"
    wait "$app" 2>/dev/null || true
'
echo "Saved $out"
