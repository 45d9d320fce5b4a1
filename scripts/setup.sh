#!/usr/bin/env bash
# Installs every Debian package that building, testing and CI need.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential g++ cmake ninja-build git pkg-config clang-format
  # fuzzing: clang with its libFuzzer runtime, and the symbolizer for the reports
  clang libclang-rt-14-dev llvm
  # Qt
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # PDF engine and what its static archives link against
  libmupdf-dev libfreetype-dev libharfbuzz-dev libjbig2dec0-dev libjpeg-dev
  libopenjp2-7-dev libgumbo-dev libmujs-dev liblcms2-dev zlib1g-dev libbrotli-dev
  # the engine's sandbox
  libseccomp-dev
  # image writers
  libpng-dev libdeflate-dev libtiff-dev libgif-dev libimagequant-dev
  # archives and crypto
  libzip-dev zipcmp libssl-dev nettle-dev
  # tests
  googletest libgtest-dev libgmock-dev
  # reference tools used by tests and benchmarks
  mupdf-tools poppler-utils ghostscript netpbm qpdf libtiff-tools python3 python3-pil time gnuplot-doc
  libtasn1-doc
  # looking at the windows
  xvfb xauth imagemagick xdotool x11-apps python3-xlib openbox x11-utils
  # packaging and its checks
  dpkg-dev file desktop-file-utils
  # the fonts of a clean Debian desktop
  fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
