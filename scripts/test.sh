#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs every test under ctest.
#   scripts/test.sh         plain build, all tests
#   scripts/test.sh asan    AddressSanitizer + UBSan build, all tests
#   scripts/test.sh tsan    ThreadSanitizer build, the threaded engine tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-release}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$flavour"
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$root/tests/tsan.supp"
case "$flavour" in
  release) dir=build; filter=() ;;
  asan)    dir=build-asan; filter=() ;;
  tsan)    dir=build-tsan; filter=(-L threaded) ;;
esac
cd "$root/$dir"
ctest --output-on-failure -j 2 --timeout 600 "${filter[@]}"
