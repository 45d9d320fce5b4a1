#!/usr/bin/env bash
# Many small files: a real manual split into one-page PDFs (qpdf --split-pages), every file at
# 150 dpi, converted
#   - by one "pixolund convert" run over the folder,
#   - by "pixolund convert" through xargs -n 8 -P $(nproc), as a shell user might,
#   - by the window's conversion pass over the same list (bench/convert_pass_bench --pass-only),
#   - by mutool draw (PNG) and pdftoppm (JPEG) for each file through xargs -P $(nproc).
# The tools take turns within each round; the median of the rounds is kept. Also times a warm
# run of one one-page file, and Add Files in the window on 5,000 one-page files (the split
# files again and again under other names). Prints seconds, the ratios and whether each target
# is met.
#
#   bench/many_files.sh [build-dir]        (default: build)
#
# Environment: DOC the PDF to split (default: the first of documents.sh), REPEAT rounds (default
# 3), QUALITY JPEG quality (default 85), JOBS parallel processes for xargs (default: nproc).
# Run it on an idle machine: the ratios fall under load from other processes.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
pixolund=$build/bin/pixolund
passBench=$build/bench/convert_pass_bench
addBench=$build/bench/add_files_bench
renderlib=$build/renderlib
repeat=${REPEAT:-3}
quality=${QUALITY:-85}
jobs=${JOBS:-$(nproc)}
for f in "$pixolund" "$passBench" "$addBench" "$renderlib/libpxraster.so"; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "missing: $f (build everything first)" >&2; exit 2; }
done
for tool in qpdf mutool pdftoppm; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (Debian: qpdf mupdf-tools poppler-utils)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A user of its own: stored options and the engine cache do not touch the caller's.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
unset XDG_RUNTIME_DIR
mkdir -p "$HOME"

source "$here/documents.sh"
bench_documents "$work" 120
doc=${DOC:-${docs[0]}}
mkdir -p "$work/in"
qpdf --split-pages "$doc" "$work/in/p-%d.pdf"
files=$(find "$work/in" -name '*.pdf' | wc -l)
echo "$(basename "$doc") split into $files one-page PDFs; $jobs at once; 150 dpi; median of $repeat rounds"

# seconds OUTDIR EXPECTED COMMAND...: wall seconds, or "fail" when the command fails or writes
# another number of images than files.
seconds() {
    local out=$1 expected=$2; shift 2
    rm -rf "$out"; mkdir -p "$out"
    sync
    local start=$EPOCHREALTIME
    if ! "$@" >"$work/log" 2>&1; then
        { echo "failed: $*"; tail -n 3 "$work/log"; } | sed 's/^/    /' >&2
        echo fail; return
    fi
    local end=$EPOCHREALTIME written
    written=$(find "$out" -type f ! -name '.*' | wc -l)
    if [ "$written" -ne "$expected" ]; then
        echo "    wrote $written images for $expected files: $*" >&2
        echo fail; return
    fi
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f\n", b - a}'
}

pass_list=()
for f in "$work"/in/*.pdf; do pass_list+=("$f:1"); done

# The commands of one side: NAME FORMAT
side() {
    local name=$1 fmt=$2 o=$work/out ext=${2,,}
    case $name in
        one-run) cmd=("$pixolund" convert --format "$fmt" --dpi 150 --quality "$quality" --output "$o" "$work/in") ;;
        xargs-n8) cmd=(bash -c "cd '$work/in' && ls | xargs -n 8 -P $jobs '$pixolund' convert --format $fmt --dpi 150 --quality $quality --output '$o'") ;;
        window-pass) cmd=("$passBench" --pass-only --repeat 1 --quality "$quality" "$renderlib" "$work/passout" "$fmt" 150 "${pass_list[@]}") ;;
        mutool) cmd=(bash -c "cd '$work/in' && ls | xargs -P $jobs -I{} mutool draw -q -r 150 -o '$o/{}-%d.png' {}") ;;
        pdftoppm) cmd=(bash -c "cd '$work/in' && ls | xargs -P $jobs -I{} pdftoppm -jpeg -jpegopt quality=$quality -r 150 {} '$o/{}'") ;;
    esac
}

declare -A times
sides_png=(one-run xargs-n8 window-pass mutool)
sides_jpg=(one-run xargs-n8 pdftoppm)
# One untimed round first: the files, the programs and the engine cache are then warm for all.
for round in $(seq 0 "$repeat"); do
    for fmt in PNG JPG; do
        if [ "$fmt" = PNG ]; then list=("${sides_png[@]}"); else list=("${sides_jpg[@]}"); fi
        # Take turns: each round starts with another side.
        n=${#list[@]}
        for k in $(seq 0 $((n - 1))); do
            name=${list[$(((k + round) % n))]}
            side "$name" "$fmt"
            if [ "$name" = window-pass ]; then
                # The pass bench times itself; its own untimed round warms it.
                line=$("${cmd[@]}" 2>&1) || { echo "    window pass failed: $line" >&2; t=fail; }
                [ "${t:-}" = fail ] || t=$(sed -n 's/.*: pass \([0-9.]*\) s.*/\1/p' <<<"$line")
                rm -rf "$work/passout"
            else
                t=$(seconds "$work/out" "$files" "${cmd[@]}")
            fi
            [ "$round" -eq 0 ] && { t=; continue; }
            times[$fmt.$name]+="$t "
            t=
        done
    done
done

median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | { grep -v fail || true; } | sort -n |
           awk '{v[NR] = $1} END {if (NR == 0) print "fail"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A m
for key in "${!times[@]}"; do m[$key]=$(median "${times[$key]}"); done

# The warm run of one one-page file: the median of 11.
one=$(ls "$work/in" | head -n 1)
singles=""
for i in $(seq 0 10); do
    start=$EPOCHREALTIME
    "$pixolund" convert --format PNG --dpi 150 --output "$work/single" "$work/in/$one" >/dev/null 2>&1
    end=$EPOCHREALTIME
    singles+=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f ", b - a}')
done
single=$(median "$singles")

# Add Files on 5,000 one-page files: the window lists them (probe window closed, rows drawn).
mkdir -p "$work/many"
i=0
while [ "$i" -lt 5000 ]; do
    for f in "$work"/in/*.pdf; do
        [ "$i" -lt 5000 ] || break
        ln "$f" "$work/many/f$(printf %05d "$i").pdf"
        i=$((i + 1))
    done
done
added=$(PATH="$build/bin:$PATH" "$addBench" "$work/many" 2>/dev/null | sed -n 's/.*rows: \([0-9.]*\) s/\1/p')
added=${added:-fail}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (a == "fail" || b == "fail" || b == 0) print "n/a"; else printf "%.2f", a / b}'; }
verdict() { awk -v r="$1" -v t="$2" -v dir="$3" 'BEGIN {if (r == "n/a" || r == "fail") print "n/a"; else if ((dir == "min" && r >= t) || (dir == "max" && r <= t) || (dir == "below" && r < t)) print "met"; else print "NOT met"}'; }

printf '\n%-36s %10s %10s\n' "run ($files files, 150 dpi)" "PNG s" "JPEG s"
printf '%-36s %10s %10s\n' "pixolund convert, one run" "${m[PNG.one-run]}" "${m[JPG.one-run]}"
printf '%-36s %10s %10s\n' "pixolund convert, xargs -n 8 -P $jobs" "${m[PNG.xargs-n8]}" "${m[JPG.xargs-n8]}"
printf '%-36s %10s %10s\n' "the window's pass" "${m[PNG.window-pass]}" "-"
printf '%-36s %10s %10s\n' "mutool draw, xargs -P $jobs" "${m[PNG.mutool]}" "-"
printf '%-36s %10s %10s\n' "pdftoppm -jpeg, xargs -P $jobs" "-" "${m[JPG.pdftoppm]}"
printf '%-36s %10s\n' "one one-page file, warm (s)" "$single"
printf '%-36s %10s\n' "Add Files, 5,000 one-page files (s)" "$added"

r1=$(ratio "${m[PNG.mutool]}" "${m[PNG.one-run]}")
r2=$(ratio "${m[JPG.pdftoppm]}" "${m[JPG.one-run]}")
r3=$(ratio "${m[PNG.xargs-n8]}" "${m[PNG.one-run]}")
r4=$(ratio "${m[PNG.mutool]}" "${m[PNG.window-pass]}")
echo
echo "PNG, one run vs mutool draw:             ${r1}x (target >= 2)     $(verdict "$r1" 2 min)"
echo "JPEG, one run vs pdftoppm -jpeg:         ${r2}x (target >= 2)     $(verdict "$r2" 2 min)"
echo "PNG, xargs -n 8 time / one run time:     ${r3}  (target <= 1.25)  $(verdict "$r3" 1.25 max)"
echo "PNG, window's pass vs mutool draw:       ${r4}x (target >= 1.2)   $(verdict "$r4" 1.2 min)"
echo "one one-page file, warm:                 ${single} s (target < 0.1) $(verdict "$single" 0.1 below)"
echo "Add Files, 5,000 files:                  ${added} s (target <= 30) $(verdict "$added" 30 max)"
