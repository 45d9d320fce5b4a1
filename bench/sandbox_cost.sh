#!/usr/bin/env bash
# What the engine's sandbox costs: the processor time of `pixolund convert` (perf stat's
# task-clock, every process of the run: the program and its engines) with the sandbox and with
# PX_SANDBOX=off, the two taking turns, median of ROUNDS. Two sets, PNG at 150 dpi:
#   - the first of documents.sh split into one-page PDFs (qpdf --split-pages), one run;
#   - the same document whole, one run.
# Engines do not rest between runs here (PX_ENGINE_REST_MS=0), so that each is the child of the
# run it serves and its time is counted there.
#
#   bench/sandbox_cost.sh [build-dir]        (default: build)
#
# Environment: DOC the PDF (default: the first of documents.sh), ROUNDS (default 5). On a busy
# machine processor times move by a quarter from run to run: take many rounds there.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
pixolund=$build/bin/pixolund
rounds=${ROUNDS:-5}
[ -x "$pixolund" ] || { echo "missing: $pixolund (build first)" >&2; exit 2; }
for tool in qpdf perf; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (Debian: qpdf linux-perf)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
unset XDG_RUNTIME_DIR
export PX_ENGINE_REST_MS=0
mkdir -p "$HOME"

source "$here/documents.sh"
bench_documents "$work" 120
doc=${DOC:-${docs[0]}}
mkdir -p "$work/split" "$work/whole"
qpdf --split-pages "$doc" "$work/split/p-%d.pdf"
cp "$doc" "$work/whole/"
# The engine cache is filled once, untimed.
"$pixolund" convert --format png --dpi 18 --output "$work/out" "$work/whole" >/dev/null

# cpu SANDBOX INPUT: the run's processor seconds.
cpu() {
    rm -rf "$work/out"
    PX_SANDBOX=$1 perf stat -x, -e task-clock -o "$work/perf" \
        "$pixolund" convert --format png --dpi 150 --output "$work/out" "$2" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    awk -F, '/task-clock/ {printf "%.3f\n", $1 / 1000}' "$work/perf"
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for set in split whole; do
    : >"$work/on" && : >"$work/off"
    for ((round = 0; round < rounds; ++round)); do
        cpu on "$work/$set" >>"$work/on"
        cpu off "$work/$set" >>"$work/off"
    done
    on=$(median <"$work/on") off=$(median <"$work/off")
    echo "$set ($(find "$work/$set" -name '*.pdf' | wc -l) files): sandbox $on s, off $off s of processor time," \
        "cost $(awk -v a="$on" -v b="$off" 'BEGIN {printf "%+.1f %%", (a / b - 1) * 100}')"
    echo "    on:  $(tr '\n' ' ' <"$work/on")"
    echo "    off: $(tr '\n' ' ' <"$work/off")"
done
