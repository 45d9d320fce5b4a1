#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Pixolund and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" release
exec "$root/build/bin/pixolund" "$@"
