#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and runs the program from there: the
# desktop entry validates, the dependencies are declared, and "pixolund convert" finds its tool
# and rendering package where the package put them.
#   test_package.sh BUILD-DIR FIXTURE-SCRIPT
set -euo pipefail
build=$1
fixtures=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/pixolund_*.deb)
dpkg-deb -x "$deb" "$work/root"

control=$(dpkg-deb -f "$deb" Depends)
for needed in qt6-qpa-plugins libqt6widgets6 libtiff6 libjpeg62-turbo libgif7; do
    grep -q "$needed" <<<"$control" || { echo "not declared: $needed" >&2; exit 1; }
done

entry=$work/root/usr/share/applications/pixolund.desktop
desktop-file-validate "$entry"
grep -qx 'MimeType=application/pdf;' "$entry"
for size in 16 32 48 256; do
    [ -f "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/pixolund.png" ]
done
[ -f "$work/root/usr/share/doc/pixolund/pixolund-help.html" ]

export HOME=$work/home XDG_DATA_HOME=$work/data TMPDIR=$work/tmp
unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR
mkdir -p "$HOME" "$XDG_DATA_HOME" "$TMPDIR"
program=$work/root/usr/bin/pixolund
"$program" convert --help | grep -q -- '--password-stdin'
/usr/bin/python3 "$fixtures" "$work/pdf" >/dev/null
"$program" convert --format png --dpi 18 --output "$work/images" "$work/pdf/three.pdf"
[ "$(ls "$work/images/three" | wc -l)" -eq 3 ]

# On a machine with Debian's package lists, apt must be able to resolve every dependency.
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null && [ -n "$(ls /var/lib/apt/lists 2>/dev/null)" ]; then
    apt-get install -s "$deb" >/dev/null
fi
echo "package checked: $(basename "$deb")"
