#!/usr/bin/env bash
# Configures and builds one flavour of the tree.
#   scripts/build.sh            -> build/        (RelWithDebInfo)
#   scripts/build.sh asan       -> build-asan/   (AddressSanitizer + UBSan)
#   scripts/build.sh tsan       -> build-tsan/   (ThreadSanitizer)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
case "$flavour" in
  release) dir=build; extra=() ;;
  asan)    dir=build-asan; extra=(-DPIXOLUND_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan)    dir=build-tsan; extra=(-DPIXOLUND_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
jobs=$(nproc)
cmake -S "$root" -B "$root/$dir" -G Ninja "${extra[@]}" >/dev/null
cmake --build "$root/$dir" -j "$jobs"
