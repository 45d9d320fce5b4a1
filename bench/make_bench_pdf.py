#!/usr/bin/python3
"""Writes a text-heavy manual-like PDF (headings, paragraphs, a table, a small chart per page)
for the benchmark when no documentation PDFs are installed.

    make_bench_pdf.py OUT.pdf PAGES
"""
import os
import random
import sys

# One PDF writer for the test fixtures and the benchmark.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "render"))
from make_fixtures import pdf_bytes, stream  # noqa: E402

WORDS = ("the of and to in is that for it as with was on be by this are from or an which "
         "document render page image output format resolution colour grey compression "
         "library program option folder file value table chart figure section").split()


def page_content(number, rng):
    ops = [b"BT /F2 16 Tf 72 740 Td (Chapter %d: Section %d) Tj ET" % (number // 10 + 1, number)]
    y = 710
    for _ in range(38):
        line = " ".join(rng.choice(WORDS) for _ in range(14))
        ops.append(b"BT /F1 10 Tf 72 %d Td (%s) Tj ET" % (y, line.encode()))
        y -= 13
    # A small table and a bar chart: strokes and fills in colour.
    ops.append(b"0.2 0.2 0.2 RG 0.5 w")
    for row in range(6):
        ops.append(b"72 %d m 300 %d l S" % (170 - row * 15, 170 - row * 15))
    for i in range(8):
        h = rng.randint(10, 90)
        ops.append(b"%.2f %.2f %.2f rg %d 80 18 %d re f" % (rng.random(), rng.random(),
                                                             rng.random(), 340 + i * 24, h))
    ops.append(b"0 g BT /F1 9 Tf 290 40 Td (%d) Tj ET" % number)
    return b"\n".join(ops)


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    rng = random.Random(7)
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>",
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"]
    kids = []
    for n in range(1, count + 1):
        data = page_content(n, rng)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                       b"/Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> /Contents %d 0 R >>"
                       % (len(objects) + 2))
        kids.append(b"%d 0 R" % len(objects))
        objects.append(stream(data))
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(kids), count)
    with open(path, "wb") as f:
        f.write(pdf_bytes(objects))


if __name__ == "__main__":
    main()
