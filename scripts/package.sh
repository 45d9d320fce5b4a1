#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Pixolund and makes its Debian package in build/:
#   bash scripts/package.sh        -> build/pixolund_<version>_<arch>.deb
# Install it with: sudo apt install ./build/pixolund_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" release
cd "$root/build"
cpack -G DEB -B "$root/build"
ls -1 "$root"/build/pixolund_*.deb
