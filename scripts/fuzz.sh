#!/usr/bin/env bash
# Fuzzes the parsers of untrusted bytes with libFuzzer under ASan and UBSan (clang, build-fuzz/).
#   scripts/fuzz.sh TARGET SECONDS   one target, e.g. fuzz_protocol 3600
#   scripts/fuzz.sh all SECONDS      every target in turn, SECONDS each (CI: 60)
# The corpus grows in build-fuzz/corpus/TARGET from the seeds in fuzz/corpus/TARGET. A crash,
# leak or hang fails the run and prints the input that caused it (kept in build-fuzz/crashes/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(fuzz_inifile fuzz_batchoptions fuzz_protocol fuzz_package fuzz_pagetree)
[ $# -eq 2 ] || { echo "usage: scripts/fuzz.sh TARGET|all SECONDS" >&2; exit 2; }
case "$1" in
  all) chosen=("${targets[@]}") ;;
  *) [[ " ${targets[*]} " == *" $1 "* ]] || { echo "unknown target: $1 (${targets[*]})" >&2; exit 2; }
     chosen=("$1") ;;
esac
seconds=$2
dir=$root/build-fuzz
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXOLUND_FUZZ=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${chosen[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp
export QT_QPA_PLATFORM=offscreen
failed=0
for target in "${chosen[@]}"; do
  corpus=$dir/corpus/$target crashes=$dir/crashes/$target
  mkdir -p "$corpus" "$crashes"
  echo "== $target: $seconds s"
  if ! "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$crashes/" \
      "$corpus" "$root/fuzz/corpus/$target" >"$dir/$target.log" 2>&1; then
    failed=1
    tail -n 60 "$dir/$target.log"
    for input in "$crashes"/*; do
      [ -f "$input" ] || continue
      echo "-- reproducer $input ($(stat -c %s "$input") bytes), run: $dir/fuzz/$target $input"
      head -c 4096 "$input" | od -A d -c | head -n 40
    done
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$dir/$target.log" || true
done
exit $failed
