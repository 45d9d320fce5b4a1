#!/usr/bin/env bash
# Times the program's conversion pass (job list, worker thread, window messages, output folders)
# against calling the rendering library directly with the same arguments, over a batch of real
# PDFs, and states whether the pass's overhead stays under 5% of the wall time.
#
#   bench/run_pass.sh [build-dir]        (default: build)
#
# Environment: FORMATS (default "PNG JPG"), DPI (default 150), PAGES pages per PDF (default 20),
# COPIES names per document in the batch (default 4), REPEAT timed rounds (default 8),
# DOCS blank-separated PDFs to use instead of the defaults.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
bench=$build/bench/convert_pass_bench
for f in "$bench" "$build/renderlib/libpxraster.so" "$build/renderlib/libpxcodec.so"; do
    [ -e "$f" ] || { echo "missing: $f (build the targets pxraster, pxcodec and convert_pass_bench)" >&2; exit 2; }
done
formats=${FORMATS:-PNG JPG}
dpi=${DPI:-150}
pages=${PAGES:-20}
copies=${COPIES:-4}
repeat=${REPEAT:-8}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Real documents shipped by Debian packages; a generated manual when none is installed.
source "$here/documents.sh"
bench_documents "$work" 120

page_count() {
    local n=""
    [ -x "$build/bin/pi" ] && n=$("$build/bin/pi" "$1" 2>/dev/null | awk '/^Pages:/ {print $NF}')
    [ -n "$n" ] || n=$(pdfinfo "$1" 2>/dev/null | awk '/^Pages:/ {print $NF}')
    echo "${n:-0}"
}

# The batch: each document under several names, so the pass's per-file work happens often.
mkdir -p "$work/in"
batch=()
for doc in "${docs[@]}"; do
    n=$(page_count "$doc")
    [ "$n" -gt 0 ] || { echo "cannot count the pages of $doc" >&2; exit 2; }
    [ "$n" -ge "$pages" ] || echo "note: $doc has only $n pages" >&2
    name=$(basename "$doc" .pdf)
    for i in $(seq 1 "$copies"); do
        ln -s "$(readlink -f "$doc")" "$work/in/$name-$i.pdf"
        batch+=("$work/in/$name-$i.pdf:$n")
    done
done

echo "Conversion pass against direct library calls: ${#batch[@]} PDFs (pages 1-$pages each)," \
     "$dpi dpi, $repeat timed rounds after an untimed one, $(nproc) cores," \
     "load average $(cut -d" " -f1-3 /proc/loadavg)"
# Other processes on the cores move single runs by 10% and more, far beyond the pass's own cost.
awk -v l="$(cut -d" " -f1 /proc/loadavg)" -v n="$(nproc)" 'BEGIN {exit !(l > n / 2)}' &&
    echo "note: the cores are busy; expect noise of several percent either way"
status=0
verdict=yes
worst=""
for fmt in $formats; do
    if ! line=$("$bench" --repeat "$repeat" --first 1 --last "$pages" "$build/renderlib" \
                "$work/out" "$fmt" "$dpi" "${batch[@]}"); then
        echo "$fmt: ${line:-the benchmark failed}" >&2
        status=1 verdict=no
        continue
    fi
    echo "$line"
    overhead=$(grep -oE 'overhead [-+][0-9.]+%' <<<"$line" | sed -E 's/overhead \+?//; s/%//')
    worst=$(awk -v a="$overhead" -v b="${worst:-$overhead}" 'BEGIN {print (a > b ? a : b)}')
    awk -v o="$overhead" 'BEGIN {exit !(o < 5)}' || verdict=no
done
echo "Pass overhead under 5% (worst ${worst:-n/a}% wall): $verdict"
exit $status
