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
# The sanitizer builds run several times slower; on a loaded machine a test there has been seen
# to stall once and pass on every rerun. A second run tells such a stall from a fault; the plain
# build gets none.
case "$flavour" in
  release) dir=build; filter=() ;;
  asan)    dir=build-asan; filter=(--repeat until-pass:2) ;;
  tsan)    dir=build-tsan; filter=(-L threaded --repeat until-pass:2) ;;
esac
cd "$root/$dir"
ctest --output-on-failure -j 2 --timeout 600 "${filter[@]}"
