#!/usr/bin/env bash
# Fails when a tracked C/C++ file differs from what clang-format makes of it
# under the repo's .clang-format, and lists those files. Changes nothing;
# `clang-format --dry-run FILE` shows the differences.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check_format: no clang-format, run scripts/setup.sh" >&2; exit 2; }
# One clang-format over all files: starting it per file takes half a minute.
status=0
out=$(git ls-files -z -- '*.cpp' '*.h' '*.c' |
  xargs -0 -r clang-format --dry-run -Werror --style=file 2>&1) || status=$?
bad=$(sed -n 's/^\(.*\):[0-9]*:[0-9]*: .*\[-Wclang-format-violations\]$/\1/p' <<<"$out" | sort -u)
if [ -n "$bad" ]; then
  echo "$bad"
  echo "check_format: $(grep -c . <<<"$bad") files need clang-format" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  # Failed without naming a file: a broken .clang-format or the like.
  echo "$out" >&2
  echo "check_format: clang-format failed" >&2
  exit 1
fi
echo "check_format: all files formatted"
