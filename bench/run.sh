#!/usr/bin/env bash
# Times the rendering library (through a driver that loads it like the program does) against the
# best other tool that writes each output format, on the same PDFs, pages and resolution, and
# prints pages per second, the ratios, output bytes and peak memory: one detailed row per
# document, then one summary row per format at 150 dpi and whether each target is met.
# bench/run_pass.sh times the program's conversion pass against direct calls of the library.
#
#   bench/run.sh [build-dir]        (default: build)
#
# Environment: PAGES150 / PAGES300 pages timed per document (default 60 / 24), QUALITY JPEG
# quality (default 85), REPEAT timed rounds, the fastest kept (default 3), DOCS blank-separated
# PDFs to use instead of the defaults.
#
# Every Ghostscript device gets -dTextAlphaBits=4 -dGraphicsAlphaBits=4: our renderer
# anti-aliases, and without them Ghostscript would do less work and write flatter pages
# (tiffg4, a 1-bit device, ignores them and renders straight to black and white).
set -euo pipefail
export LC_ALL=C # decimal points in the clock and in awk

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
lib=$build/renderlib/libpxraster.so
driver=$build/bench/rasterize_driver
quality=${QUALITY:-85}
repeat=${REPEAT:-3}
for f in "$lib" "$driver" /usr/bin/time; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "missing: $f (build the targets pxraster, pxrender and rasterize_driver)" >&2; exit 2; }
done

# A missing reference tool only drops the rows that need it.
have() {
    command -v "$1" >/dev/null && return 0
    echo "note: $1 not found (Debian package $2): its comparisons are skipped" >&2
    return 1
}
hasMutool=0 hasPdftoppm=0 hasGs=0 hasPamtotga=0
have mutool mupdf-tools && hasMutool=1
have pdftoppm poppler-utils && hasPdftoppm=1
have gs ghostscript && hasGs=1
have pamtotga netpbm && hasPamtotga=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Real documents shipped by Debian packages; a generated manual when none is installed.
source "$here/documents.sh"
bench_documents "$work" 320

page_count() { "$build/bin/pi" "$1" 2>/dev/null | awk '/^Pages:/ {print $NF}' ||
               pdfinfo "$1" | awk '/^Pages:/ {print $NF}'; }

# measure OUTDIR PAGES COMMAND... -> "seconds peakKB bytes cpu-seconds", or "fail" after telling
# why on stderr. A tool that writes fewer pages than asked for fails rather than look fast.
measure() {
    local out=$1 pages=$2; shift 2
    rm -rf "$out"; mkdir -p "$out"
    # The previous run's files are written back and freed before the clock starts, so that
    # work does not land on the next tool's time.
    sync
    # Wall time from the shell's microsecond clock: time's own is in hundredths.
    local start=$EPOCHREALTIME
    if ! /usr/bin/time -f "%M %U %S" -o "$work/time" "$@" >"$work/log" 2>&1; then
        { echo "command failed: $*"; tail -n 5 "$work/log"; } | sed 's/^/    /' >&2
        echo fail; return
    fi
    local end=$EPOCHREALTIME files bytes
    files=$(find "$out" -type f | wc -l)
    if [ "$files" -ne "$pages" ]; then
        echo "    wrote $files files for $pages pages: $*" >&2
        echo fail; return
    fi
    bytes=$(find "$out" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    local kb user sys
    read -r kb user sys < <(tail -n 1 "$work/time")
    awk -v a="$start" -v b="$end" -v kb="$kb" -v bytes="$bytes" -v u="$user" -v s="$sys" \
        'BEGIN {printf "%.4f %d %d %.2f\n", b - a, kb, bytes, u + s}'
}

# The formats, each with our settings and the other tool it is compared with.
formats=(png jpg bmp tiffg4 tiff pcx tga gif)
declare -A label=(
    [png]="PNG" [jpg]="JPEG q$quality" [bmp]="BMP" [tiffg4]="TIFF G4" [tiff]="TIFF LZW"
    [pcx]="PCX" [tga]="TGA" [gif]="GIF")
declare -A other=(
    [png]="mutool draw" [jpg]="pdftoppm -jpeg" [bmp]="gs bmp16m" [tiffg4]="gs tiffg4"
    [tiff]="gs tiff24nc lzw" [pcx]="gs pcx24b" [tga]="mutool+pamtotga" [gif]="ours quantised")
declare -A available=(
    [png]=$hasMutool [jpg]=$hasPdftoppm [bmp]=$hasGs [tiffg4]=$hasGs [tiff]=$hasGs [pcx]=$hasGs
    [tga]=$((hasMutool && hasPamtotga)) [gif]=1)

# ours FORMAT DOC DPI LAST OUTDIR: our command into the array `cmd`.
ours() {
    local fmt=$1 doc=$2 dpi=$3 last=$4 o=$5 ext=$1 bpp=24 compression=5
    case $fmt in
        tiffg4) ext=tiff bpp=1 compression=4 ;;
    esac
    cmd=("$driver" "$lib" "$doc" "$o/o.$ext" "$dpi" "$bpp" "$compression" "$quality" 0 0 1 "$last")
}

# TGA: no PDF tool Debian ships writes it, so the other side is how one would do it with Debian's
# tools: MuPDF renders the pages to PPM, netpbm's pamtotga turns each into run-length coded
# 24-bit TGA like ours (ImageMagick's convert on this machine is not Debian's).
tgaByHand() { # doc dpi last outdir
    mutool draw -q -r "$2" -c rgb -F pnm -o "$4/m-%d.pnm" "$1" "1-$3" || return
    local f
    for f in "$4"/m-*.pnm; do
        pamtotga -rgb <"$f" >"${f%.pnm}.tga" && rm -f "$f" || return
    done
}

# theirs FORMAT DOC DPI LAST OUTDIR: the other tool's command into the array `cmd`.
theirs() {
    local fmt=$1 doc=$2 dpi=$3 last=$4 o=$5
    local gs=(gs -q -dNOPAUSE -dBATCH -dSAFER "-r$dpi" -dFirstPage=1 "-dLastPage=$last"
              -dTextAlphaBits=4 -dGraphicsAlphaBits=4)
    case $fmt in
        png) cmd=(mutool draw -q -r "$dpi" -o "$o/m-%d.png" "$doc" "1-$last") ;;
        jpg) cmd=(pdftoppm -jpeg -jpegopt "quality=$quality" -r "$dpi" -f 1 -l "$last" "$doc" "$o/p") ;;
        bmp) cmd=("${gs[@]}" -sDEVICE=bmp16m "-sOutputFile=$o/g-%d.bmp" "$doc") ;;
        tiffg4) cmd=("${gs[@]}" -sDEVICE=tiffg4 "-sOutputFile=$o/g-%d.tiff" "$doc") ;;
        tiff) cmd=("${gs[@]}" -sDEVICE=tiff24nc -sCompression=lzw "-sOutputFile=$o/g-%d.tiff" "$doc") ;;
        pcx) cmd=("${gs[@]}" -sDEVICE=pcx24b "-sOutputFile=$o/g-%d.pcx" "$doc") ;;
        tga) cmd=(bash -c "$(declare -f tgaByHand); tgaByHand \"\$@\"" tga "$doc" "$dpi" "$last" "$o") ;;
        # GIF before its exact-palette path: every page through libimagequant.
        gif) ours gif "$doc" "$dpi" "$last" "$o"; cmd=(env PX_GIF_QUANTIZE_ALWAYS=1 "${cmd[@]}") ;;
    esac
}

load=$(cut -d" " -f1-3 /proc/loadavg)
# Busy CPU seconds of the whole machine: less our measured commands' own, that is what other
# processes took from us, which the load average only hints at (it misses other namespaces).
busySeconds() { awk -v hz="$(getconf CLK_TCK)" '$1 == "cpu" {print ($2 + $3 + $4 + $7 + $8 + $9) / hz}' /proc/stat; }
busyBefore=$(busySeconds) wallBefore=$EPOCHREALTIME
results=$work/results # doc fmt dpi side pages secs kb bytes cpu, or doc fmt dpi side pages fail
: >"$results"
run() { # doc fmt dpi side pages (command in `cmd`)
    local m; m=$(measure "$work/out" "$5" "${cmd[@]}")
    if [ "$m" = fail ]; then
        echo "  $1 $2 at $3 dpi, $4: failed" >&2
    fi
    echo "$1 $2 $3 $4 $5 $m" >>"$results"
}

for doc in "${docs[@]}"; do
    name=$(basename "$doc" .pdf)
    total=$(page_count "$doc")
    for dpi in 150 300; do
        want=$([ "$dpi" = 150 ] && echo "${PAGES150:-60}" || echo "${PAGES300:-24}")
        last=$(( total < want ? total : want ))
        # Every format at 150 dpi; at 300 the ones whose cost grows differently.
        fmts=("${formats[@]}")
        [ "$dpi" = 300 ] && fmts=(png jpg tiff)
        echo "… $name: pages 1-$last at $dpi dpi, $repeat rounds" >&2
        # Rounds interleave the two sides so a change in load hits both alike.
        for ((round = 1; round <= repeat; round++)); do
            for fmt in "${fmts[@]}"; do
                ours "$fmt" "$doc" "$dpi" "$last" "$work/out"
                run "$name" "$fmt" "$dpi" ours "$last"
                [ "${available[$fmt]}" = 1 ] || continue
                theirs "$fmt" "$doc" "$dpi" "$last" "$work/out"
                run "$name" "$fmt" "$dpi" other "$last"
            done
        done
    done
done

busyAfter=$(busySeconds) wallAfter=$EPOCHREALTIME
others=$(awk -v b0="$busyBefore" -v b1="$busyAfter" -v w0="$wallBefore" -v w1="$wallAfter" \
    '$6 != "fail" {own += $9} END {x = (b1 - b0 - own) / (w1 - w0); printf "%.2f", x < 0 ? 0 : x}' "$results")

# Fastest round of each measurement; a failure in any round marks the measurement failed.
best=$work/best # doc fmt dpi side pages secs kb bytes cpu | doc fmt dpi side pages fail
awk '
    { k = $1 " " $2 " " $3 " " $4
      if (!(k in order)) { order[k] = ++n; key[n] = k; pages[k] = $5 }
      if ($6 == "fail") { failed[k] = 1; next }
      if (!(k in secs) || $6 < secs[k]) { secs[k] = $6; bytes[k] = $8; cpu[k] = $9 }
      if ($7 > kb[k]) kb[k] = $7 }
    END { for (i = 1; i <= n; i++) { k = key[i]
              if ((k in failed) || !(k in secs)) print k, pages[k], "fail"
              else print k, pages[k], secs[k], kb[k], bytes[k], cpu[k] } }' "$results" >"$best"

# Labels for awk, one "format<TAB>label<TAB>other tool" line each.
labels=$work/labels
for fmt in "${formats[@]}"; do
    o=${other[$fmt]}
    [ "${available[$fmt]}" = 1 ] || o="- (missing)"
    printf '%s\t%s\t%s\n' "$fmt" "${label[$fmt]}" "$o"
done >"$labels"

echo
echo "Rendering speed on $(nproc) cores, fastest of $repeat rounds (JPEG quality $quality);"
echo "load average before the run: $load, after: $(cut -d" " -f1-3 /proc/loadavg)"
echo "other processes kept about $others of the $(nproc) cores busy during the timed runs;"
echo "our renderer uses every core, the other tools one, so load lowers our ratios (cpu s = user + system)"
awk -v labels="$labels" '
    BEGIN { FS = "\t"; while ((getline l < labels) > 0) { split(l, f, "\t"); tool[f[1]] = f[3] }
            FS = " " }
    { row[NR] = $0; if ($4 == "ours" && $6 != "fail") { ours[$1 " " $2 " " $3] = $5 / ($6 > 0 ? $6 : 0.01)
                                                          oursBytes[$1 " " $2 " " $3] = $8 } }
    END {
        printf "%-10s %-6s %4s %-16s %5s %7s %8s %8s %7s %11s %7s %8s\n", "document", "fmt",
               "dpi", "tool", "pages", "seconds", "pages/s", "ours is", "cpu s", "bytes", "size",
               "peak MB"
        for (i = 1; i <= NR; i++) {
            split(row[i], f, " "); key = f[1] " " f[2] " " f[3]
            name = f[4] == "ours" ? "ours" : tool[f[2]]
            if (f[6] == "fail") {
                printf "%-10s %-6s %4s %-16s %5d %7s\n", f[1], f[2], f[3], name, f[5], "failed"
                continue
            }
            rate = f[5] / (f[6] > 0 ? f[6] : 0.01)
            speed = (f[4] == "ours" || !(key in ours)) ? "" : sprintf("x%.2f", ours[key] / rate)
            size = (f[4] == "ours" || !(key in ours)) ? "" : sprintf("%+.0f%%", 100 * (oursBytes[key] / f[8] - 1))
            printf "%-10s %-6s %4s %-16s %5d %7.2f %8.1f %8s %7.2f %11d %7s %8.0f\n", f[1], f[2],
                   f[3], name, f[5], f[6], rate, speed, f[9], f[8], size, f[7] / 1024
        }
    }' "$best"

# Summary: every document together at 150 dpi (all pages over all seconds, all bytes).
summary=$work/summary # fmt ours-pps other-pps speed-ratio bytes-ratio ours-peak-MB ("-" when unknown)
awk -v labels="$labels" '
    BEGIN { while ((getline l < labels) > 0) { split(l, f, "\t"); fmts[++n] = f[1] } }
    $3 == 150 { k = $2 " " $4; seen[k] = 1
                if ($6 == "fail") { failed[k] = 1; next }
                pages[k] += $5; secs[k] += $6; bytes[k] += $8; if ($7 > kb[k]) kb[k] = $7 }
    END {
        for (i = 1; i <= n; i++) {
            o = fmts[i] " ours"; t = fmts[i] " other"
            okO = (o in seen) && !(o in failed); okT = (t in seen) && !(t in failed)
            po = okO ? pages[o] / (secs[o] > 0 ? secs[o] : 0.01) : -1
            pt = okT ? pages[t] / (secs[t] > 0 ? secs[t] : 0.01) : -1
            printf "%s %s %s %s %s %s\n", fmts[i],
                   okO ? sprintf("%.1f", po) : ((o in failed) ? "failed" : "-"),
                   okT ? sprintf("%.1f", pt) : ((t in failed) ? "failed" : "-"),
                   (okO && okT) ? sprintf("%.2f", po / pt) : "-",
                   (okO && okT && bytes[t] > 0) ? sprintf("%.2f", bytes[o] / bytes[t]) : "-",
                   okO ? sprintf("%.0f", kb[o] / 1024) : "-"
        }
    }' "$best" >"$summary"

echo
echo "Summary at 150 dpi, $(printf '%s ' "${docs[@]##*/}")together:"
printf '%-10s %10s  %-16s %11s %7s %7s %8s\n' format "ours pg/s" "other tool" "other pg/s" "speed" "bytes" "peak MB"
while read -r fmt po pt speed size mb; do
    name=$(awk -F'\t' -v f="$fmt" '$1 == f {print $3}' "$labels")
    lab=$(awk -F'\t' -v f="$fmt" '$1 == f {print $2}' "$labels")
    [ "$speed" = - ] || speed=x$speed
    [ "$size" = - ] || size=x$size
    printf '%-10s %10s  %-16s %11s %7s %7s %8s\n' "$lab" "$po" "$name" "$pt" "$speed" "$size" "$mb"
done <"$summary"

echo
echo "Targets"
# target FORMAT MIN-SPEED MAX-BYTES WHAT: met / NOT met; MIN-SPEED "-" only reports.
target() {
    local fmt=$1 minSpeed=$2 maxBytes=$3 what=$4 speed size
    read -r _ _ _ speed size _ < <(awk -v f="$fmt" '$1 == f' "$summary")
    if [ "$speed" = - ]; then
        printf '%-10s %s: not measured\n' "${label[$fmt]}" "$what"
        return
    fi
    awk -v lab="${label[$fmt]}" -v what="$what" -v r="$speed" -v s="$size" -v min="$minSpeed" \
        -v max="$maxBytes" 'BEGIN {
        line = sprintf("%-10s x%.2f %s", lab, r, what)
        if (min == "-") { print line ": reported"; exit }
        line = line sprintf(" (target >= %s)", min)
        if (max != "-") line = line sprintf(", bytes x%.2f (target <= %s)", s, max)
        ok = r >= min && (max == "-" || s <= max)
        print line ": " (ok ? "met" : "NOT met") }'
}
target png 4 1.1 "mutool draw"
target jpg 2.7 - "pdftoppm -jpeg"
target bmp - - "gs bmp16m (was x2.9)"
target tiffg4 - - "gs tiffg4 (was x1.95)"
target tiff 2 - "gs tiff24nc LZW"
target pcx 2 - "gs pcx24b"
target tga - - "mutool draw to PPM + pamtotga"
target gif 4 - "ours with every page through libimagequant"

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
m=$(measure "$work/out" "$longestPages" "$driver" "$lib" "$longest" "$work/out/all.png" 300 24 5 "$quality" 0 0 1 "$longestPages")
if [ "$m" = fail ]; then
    echo "Memory: $(basename "$longest"), $longestPages pages at 300 dpi PNG: failed (target < 300 MB): NOT met"
    exit 0
fi
read -r secs kb _ _ <<<"$m"
awk -v n="$longestPages" -v s="$secs" -v kb="$kb" -v doc="$(basename "$longest")" 'BEGIN {
    printf "Memory: %s, %d pages at 300 dpi PNG: %.1f s (%.1f pages/s), peak %.0f MB (target < 300 MB): %s\n",
           doc, n, s, n / (s > 0 ? s : 0.01), kb / 1024, (kb / 1024 < 300 ? "met" : "NOT met") }'
