#!/usr/bin/env bash
# Times the rendering library (through a driver that loads it like the program does) against
# `mutool draw` and `pdftoppm` on the same PDFs, pages, resolution and format, and prints
# pages per second, the ratio to each, output bytes and peak memory.
# bench/run_pass.sh times the program's conversion pass against direct calls of the library.
#
#   bench/run.sh [build-dir]        (default: build)
#
# Environment: PAGES150 / PAGES300 pages timed per document (default 60 / 24),
# QUALITY JPEG quality (default 85), DOCS blank-separated PDFs to use instead of the defaults.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
lib=$build/renderlib/libpxraster.so
driver=$build/bench/rasterize_driver
quality=${QUALITY:-85}
for f in "$lib" "$driver" /usr/bin/time; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "missing: $f (build the targets pxraster, pxrender and rasterize_driver)" >&2; exit 2; }
done
command -v mutool >/dev/null && command -v pdftoppm >/dev/null || {
    echo "mutool and pdftoppm are needed (mupdf-tools, poppler-utils)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Real documents shipped by Debian packages; a generated manual when none is installed.
source "$here/documents.sh"
bench_documents "$work" 320

page_count() { "$build/bin/pi" "$1" 2>/dev/null | awk '/^Pages:/ {print $NF}' ||
               pdfinfo "$1" | awk '/^Pages:/ {print $NF}'; }

# measure OUTDIR COMMAND... -> "seconds peakKB bytes cpu-seconds" (or "fail")
measure() {
    local out=$1; shift
    rm -rf "$out"; mkdir -p "$out"
    if ! /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>&1; then
        echo fail; return
    fi
    local bytes
    bytes=$(find "$out" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    local secs kb user sys
    read -r secs kb user sys < <(tail -n 1 "$work/time")
    echo "$secs $kb $bytes $(awk -v u="$user" -v s="$sys" 'BEGIN {print u + s}')"
}

load=$(cut -d" " -f1-3 /proc/loadavg)
results=$work/results # doc fmt dpi tool pages secs kb bytes cpu
: >"$results"
run() { # doc fmt dpi tool pages command...
    local doc=$1 fmt=$2 dpi=$3 tool=$4 pages=$5; shift 5
    local m; m=$(measure "$work/out" "$@")
    [ "$m" = fail ] && { echo "$doc $fmt $dpi $tool failed" >&2; return; }
    echo "$doc $fmt $dpi $tool $pages $m" >>"$results"
}

for doc in "${docs[@]}"; do
    name=$(basename "$doc" .pdf)
    total=$(page_count "$doc")
    for dpi in 150 300; do
        want=$([ "$dpi" = 150 ] && echo "${PAGES150:-60}" || echo "${PAGES300:-24}")
        last=$(( total < want ? total : want ))
        o=$work/out
        echo "… $name: pages 1-$last at $dpi dpi" >&2
        run "$name" png "$dpi" ours "$last" "$driver" "$lib" "$doc" "$o/o.png" "$dpi" 24 5 "$quality" 0 0 1 "$last"
        run "$name" png "$dpi" mutool "$last" mutool draw -q -r "$dpi" -o "$o/m-%d.png" "$doc" "1-$last"
        run "$name" png "$dpi" pdftoppm "$last" pdftoppm -png -r "$dpi" -f 1 -l "$last" "$doc" "$o/p"
        run "$name" jpg "$dpi" ours "$last" "$driver" "$lib" "$doc" "$o/o.jpg" "$dpi" 24 5 "$quality" 0 0 1 "$last"
        run "$name" jpg "$dpi" pdftoppm "$last" pdftoppm -jpeg -jpegopt "quality=$quality" -r "$dpi" -f 1 -l "$last" "$doc" "$o/p"
        run "$name" tiff "$dpi" ours "$last" "$driver" "$lib" "$doc" "$o/o.tiff" "$dpi" 24 5 "$quality" 0 0 1 "$last"
        run "$name" tiff "$dpi" pdftoppm "$last" pdftoppm -tiff -tiffcompression lzw -r "$dpi" -f 1 -l "$last" "$doc" "$o/p"
    done
done

echo
echo "Rendering speed on $(nproc) cores (PNG and TIFF LZW colour, JPEG quality $quality);"
echo "load average before the run: $load (other processes share the cores; cpu s = user + system)"
awk '
    { key = $1 " " $2 " " $3; pps = $5 / ($6 > 0 ? $6 : 0.01)
      row[NR] = $0; rate[NR] = pps
      if ($4 == "ours") { ours[key] = pps; oursBytes[key] = $8 } }
    END {
        printf "%-10s %-4s %4s %-9s %5s %7s %8s %8s %7s %12s %7s %8s\n", "document", "fmt",
               "dpi", "tool", "pages", "seconds", "pages/s", "ours is", "cpu s", "bytes", "size",
               "peak MB"
        for (i = 1; i <= NR; i++) {
            split(row[i], f, " "); key = f[1] " " f[2] " " f[3]
            speed = f[4] == "ours" ? "" : sprintf("x%.2f", ours[key] / rate[i])
            size = f[4] == "ours" ? "" : sprintf("%+.0f%%", 100 * (oursBytes[key] / f[8] - 1))
            printf "%-10s %-4s %4s %-9s %5d %7.2f %8.1f %8s %7.2f %12d %7s %8.0f\n", f[1], f[2],
                   f[3], f[4], f[5], f[6], rate[i], speed, f[9], f[8], size, f[7] / 1024
        }
    }' "$results"

echo
echo "Targets"
awk '
    { key = $1 " " $2 " " $3; pps[key " " $4] = $5 / ($6 > 0 ? $6 : 0.01); bytes[key " " $4] = $8 }
    END {
        for (k in pps) {
            split(k, f, " "); if (f[4] != "ours") continue
            base = f[1] " " f[2] " " f[3]
            mk = base " mutool"; pk = base " pdftoppm"
            if (f[2] == "png" && (mk in pps)) {
                r = pps[k] / pps[mk]; s = bytes[k] / bytes[mk]
                printf "PNG %-10s %s dpi: x%.2f mutool draw (target 3), size %+.0f%% (target <= +15%%): %s\n",
                       f[1], f[3], r, 100 * (s - 1), (r >= 3 && s <= 1.15) ? "met" : "NOT met"
            }
            if (f[2] == "jpg" && (pk in pps)) {
                r = pps[k] / pps[pk]
                printf "JPG %-10s %s dpi: x%.2f pdftoppm -jpeg (target 1.5): %s\n", f[1], f[3], r,
                       (r >= 1.5 ? "met" : "NOT met")
            }
        }
    }' "$results" | sort

# Memory: every page of the longest document at 300 dpi (pages in flight, not the document).
longest="" longestPages=0
for doc in "${docs[@]}"; do
    n=$(page_count "$doc")
    [ "$n" -gt "$longestPages" ] && longest=$doc longestPages=$n
done
if [ "$longestPages" -lt 300 ]; then
    /usr/bin/python3 "$here/make_bench_pdf.py" "$work/manual.pdf" 300
    longest=$work/manual.pdf longestPages=300
fi
m=$(measure "$work/out" "$driver" "$lib" "$longest" "$work/out/all.png" 300 24 5 "$quality" 0 0 1 "$longestPages")
read -r secs kb bytes cpu <<<"$m"
awk -v n="$longestPages" -v s="$secs" -v kb="$kb" -v doc="$(basename "$longest")" 'BEGIN {
    printf "Memory: %s, %d pages at 300 dpi PNG: %.1f s (%.1f pages/s), peak %.0f MB (target < 300 MB): %s\n",
           doc, n, s, n / s, kb / 1024, (kb / 1024 < 300 ? "met" : "NOT met") }'
