# Sourced by the benchmark scripts: fills the array `docs` with the PDFs to time. DOCS (blank-
# separated) wins; else the real manuals Debian packages ship; else a generated manual of
# $2 pages written into the folder $1.
bench_documents() {
    if [ -n "${DOCS:-}" ]; then
        read -r -a docs <<<"$DOCS"
        return
    fi
    docs=()
    for f in /usr/share/doc/gnuplot/gnuplot.pdf /usr/share/doc/libtasn1-doc/libtasn1.pdf; do
        [ -f "$f" ] && docs+=("$f")
    done
    if [ ${#docs[@]} -eq 0 ]; then
        /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/make_bench_pdf.py" "$1/manual.pdf" "$2"
        docs=("$1/manual.pdf")
    fi
}
