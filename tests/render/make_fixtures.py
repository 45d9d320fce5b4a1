#!/usr/bin/python3
"""Writes the PDFs the rendering and information tool tests use into the folder given.

Plain files are written byte by byte here; encrypted copies are made with qpdf.
"""
import io
import os
import struct
import subprocess
import sys
import zlib


def pdf_bytes(objects, root=1, info=None, extra_tail=b""):
    """A PDF with a correct cross-reference table; objects are numbered from 1."""
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    trailer = b"<< /Size %d /Root %d 0 R" % (len(objects) + 1, root)
    if info:
        trailer += b" /Info %d 0 R" % info
    out += b"trailer\n" + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % xref
    return bytes(out) + extra_tail


def stream(data, extra=b""):
    return b"<< /Length %d%s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def document(page_sizes, title=b"Fixture", count=None, font=None):
    """Catalog, page tree with the given sizes (points), Helvetica text and colour boxes.

    `count` overrides the page tree's /Count (damaged files claim absurd counts);
    `font` replaces the page font with extra objects (body, extra objects).
    """
    n = len(page_sizes)
    first_page = 5
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        None,  # page tree, filled below
        b"<< /Title (%s) /Author (Pixolund tests) /Producer (make_fixtures) "
        b"/CreationDate (D:20240102103000+01'00') >>" % title,
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    kids = []
    for i, (w, h) in enumerate(page_sizes):
        page_obj = first_page + 2 * i
        kids.append(b"%d 0 R" % page_obj)
        text = (b"0.9 0.1 0.1 rg 20 20 %d %d re f 0.1 0.2 0.8 rg 40 40 60 30 re f "
                b"0 g BT /F1 18 Tf 30 %d Td (Page %d) Tj ET" % (w // 2, h // 3, h - 40, i + 1))
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] "
                       b"/Resources << /Font << /F1 4 0 R >> >> /Contents %d 0 R >>"
                       % (w, h, page_obj + 1))
        objects.append(stream(text))
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(kids),
                                                                 n if count is None else count)
    return pdf_bytes(objects, root=1, info=3)


def type3_loop(content=b"BT /T3 50 Tf 20 20 Td (a) Tj ET"):
    """One page whose Type3 glyph shows itself again: an interpreter recursing without end.
    `content` is the page's content stream; it shows the glyph with the font /T3."""
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
        b"/Resources << /Font << /T3 5 0 R >> >> /Contents 4 0 R >>",
        stream(content),
        b"<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] "
        b"/FontMatrix [0.001 0 0 0.001 0 0] /CharProcs << /a 6 0 R >> "
        b"/Encoding << /Type /Encoding /Differences [97 /a] >> /FirstChar 97 /LastChar 97 "
        b"/Widths [1000] /Resources << /Font << /T3 5 0 R >> >> >>",
        stream(b"1000 0 d0 0 0 1 rg 0 0 500 500 re f BT /T3 1 Tf (a) Tj ET"),
    ]
    return pdf_bytes(objects)


def nested_forms(first, levels, fan, w, h):
    """Form XObjects numbered from `first`, each drawing the next `fan` times: the last one's
    shape is painted fan**levels times by "/X Do" with the first as /X."""
    objects = []
    for level in range(levels):
        if level + 1 < levels:
            body = b"q 1 0 0 1 0.01 0 cm /X Do Q " * fan
            res = b" /Resources << /XObject << /X %d 0 R >> >>" % (first + level + 1)
        else:
            body = b"0.5 g 0 0 m %d 0 l %d %d l f 0 0 %d %d re S" % (w, w // 2, h, w, h)
            res = b""
        objects.append(stream(body, b" /Type /XObject /Subtype /Form /BBox [0 0 %d %d]%s"
                              % (w, h, res)))
    return objects


def heavy_page(levels=7, fan=10):
    """A tiny file whose one page paints fan**levels full-page shapes through nested forms:
    minutes of rendering, for the page watchdog."""
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Resources << /XObject << /X 5 0 R >> >> /Contents 4 0 R >>",
        stream(b"/X Do"),
    ]
    return pdf_bytes(objects + nested_forms(5, levels, fan, 612, 792))


def eight_with_heavy_fifth(levels=7, fan=10):
    """Eight small pages; the fifth paints fan**levels shapes like heavy_page and takes minutes,
    so a call over the document is still busy with it when the other seven are done."""
    forms = 3 + 2 * 8
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [%s] /Count 8 >>"
               % b" ".join(b"%d 0 R" % (3 + 2 * i) for i in range(8))]
    for i in range(8):
        heavy = i == 4
        res = b" /Resources << /XObject << /X %d 0 R >> >>" % forms if heavy else b""
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 72]%s "
                       b"/Contents %d 0 R >>" % (res, 4 + 2 * i))
        objects.append(stream(b"/X Do" if heavy else b"0 0 1 rg 10 10 50 30 re f"))
    return pdf_bytes(objects + nested_forms(forms, levels, fan, 144, 72))


def busy_pages(pages=10, levels=4, fan=10):
    """Small pages that each paint fan**levels shapes like heavy_page: a fraction of a second
    apiece, so the progress of a call can be watched page by page and band by band."""
    forms = 3 + 2 * pages
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [%s] /Count %d >>"
               % (b" ".join(b"%d 0 R" % (3 + 2 * i) for i in range(pages)), pages)]
    for i in range(pages):
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 72] "
                       b"/Resources << /XObject << /X %d 0 R >> >> /Contents %d 0 R >>"
                       % (forms, 4 + 2 * i))
        objects.append(stream(b"/X Do"))
    return pdf_bytes(objects + nested_forms(forms, levels, fan, 144, 72))


def tiny_tiling(step=b"0.01", size=2000):
    """One large page filled with a tiling pattern whose cell is a hundredth of a point:
    MuPDF paints billions of cells and checks for an abort only between them."""
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] "
        b"/Resources << /Pattern << /P 5 0 R >> >> /Contents 4 0 R >>" % (size, size),
        stream(b"/Pattern cs /P scn 0 0 %d %d re f" % (size, size)),
        stream(b"0 0 1 rg 0 0 0.005 0.005 re f",
               b" /Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 %s %s] "
               b"/XStep %s /YStep %s /Resources << >>" % (step, step, step, step)),
    ]
    return pdf_bytes(objects)


def damaged_jpeg():
    """A page showing a JPEG with stray bytes before its scan: libjpeg warns about
    "Corrupt JPEG data" on stderr unless told otherwise, and still decodes it."""
    import io
    from PIL import Image
    buffer = io.BytesIO()
    Image.new("RGB", (64, 48), (200, 40, 40)).save(buffer, "JPEG", quality=80)
    data = buffer.getvalue()
    scan = data.index(b"\xff\xda")
    data = data[:scan] + b"\x00\x11\x22\x33" + data[scan:]
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 108] "
        b"/Resources << /XObject << /I 5 0 R >> >> /Contents 4 0 R >>",
        stream(b"q 144 0 0 108 0 0 cm /I Do Q"),
        stream(data, b" /Type /XObject /Subtype /Image /Width 64 /Height 48 "
               b"/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode"),
    ]
    return pdf_bytes(objects)


def cyclic_tree():
    """A page tree whose node lists itself among its kids besides one real page."""
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 5 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents 4 0 R >>",
        stream(b"0 0 1 rg 10 10 50 50 re f"),
    ]
    return pdf_bytes(objects)


def tree_loop(page_second):
    """A branch of the page tree that leads back to the root. With `page_second` the looping
    branch stands between two real pages and claims one page of its own (three claimed, two
    real); otherwise it comes before the one real page, where a lookup by /Count enters it."""
    page = b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents 4 0 R >>"
    loop = b"<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>"
    if page_second:
        kids, count = b"[3 0 R 5 0 R 6 0 R]", 3
        extra = [loop, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 72 72] /Contents 4 0 R >>"]
    else:
        kids, count = b"[5 0 R 3 0 R]", 2
        extra = [loop]
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids %s /Count %d >>" % (kids, count),
        page,
        stream(b"0 0 1 rg 10 10 50 50 re f"),
    ]
    return pdf_bytes(objects + extra)


def deep_tree(levels=200):
    """A valid page tree `levels` nodes deep: page 1 under the root, pages 2 and 3 under the
    deepest node. Size, rotation and resources are inherited from the root through every
    level; page 3 has a size of its own."""
    first_node = 5
    nodes = list(range(first_node, first_node + levels))
    pages = [first_node + levels, first_node + levels + 1, first_node + levels + 2]
    objects = [
        b"<< /Type /Catalog /Pages %d 0 R >>" % nodes[0],
        stream(b"/X Do"),
        stream(b"0 0 1 rg 0 0 100 100 re f", b" /Type /XObject /Subtype /Form /BBox [0 0 100 100]"),
        b"<< /XObject << /X 3 0 R >> >>",
    ]
    for depth, number in enumerate(nodes):
        below = nodes[depth + 1] if depth + 1 < levels else None
        if depth == 0:
            kids, count = [pages[0]] + ([below] if below else [pages[1], pages[2]]), 3
        else:
            kids, count = ([below] if below else [pages[1], pages[2]]), 2
        inherited = (b" /MediaBox [0 0 200 100] /Rotate 90 /Resources 4 0 R" if depth == 0
                     else b" /Parent %d 0 R" % nodes[depth - 1])
        objects.append(b"<< /Type /Pages%s /Kids [%s] /Count %d >>"
                       % (inherited, b" ".join(b"%d 0 R" % k for k in kids), count))
    for i, number in enumerate(pages):
        parent = nodes[0] if i == 0 else nodes[-1]
        own = b" /MediaBox [0 0 300 150]" if i == 2 else b""
        objects.append(b"<< /Type /Page /Parent %d 0 R%s /Contents 2 0 R >>" % (parent, own))
    return pdf_bytes(objects)


def poster(side=14400):
    """One page `side` points square (200 inches by default): a red square in the bottom right
    corner, a blue stripe across the page an inch high, and a dark green stripe down it an inch
    wide, painted last. At 300 dpi every edge falls on a whole pixel."""
    content = (b"1 0 0 rg %d 0 %d %d re f " % (side - 2400, 2400, 2400) +
               b"0 0 1 rg 0 3600 %d 72 re f " % side +
               b"0 0.5 0 rg 7200 0 72 %d re f" % side)
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Contents 4 0 R >>" % (side, side),
        stream(content),
    ]
    return pdf_bytes(objects)


def type3_between_shapes():
    """A red square, text in a Type3 font whose glyph shows itself, then a green triangle."""
    return type3_loop(b"1 0 0 rg 10 10 60 60 re f BT /T3 50 Tf 20 120 Td (a) Tj ET "
                      b"0 1 0 rg 120 10 m 190 10 l 155 80 l f")


def srgb_profile():
    from PIL import ImageCms
    return ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()


def colour_spaces():
    """One page painted in many colour spaces: a DeviceCMYK image of a range of
    colours, then fills in DeviceCMYK, ICCBased RGB, DeviceRGB, DeviceGray, Lab, a Separation
    and an Indexed image."""
    size = 16
    cmyk = bytearray()
    for y in range(size):
        for x in range(size):
            cmyk += bytes([(x * 17) % 256, (y * 13 + 60) % 256, (x * y) % 256, (y * 9) % 256])
    indexed = bytes((x + y) % 4 for y in range(4) for x in range(4))
    content = (
        b"q 180 0 0 180 10 10 cm /Im1 Do Q "
        b"0.8 0.1 0.9 0.2 k 200 10 60 60 re f "
        b"/ICC cs 0.2 0.6 0.3 sc 200 80 60 60 re f "
        b"0.9 0.5 0.1 rg 270 10 60 60 re f "
        b"0.35 g 270 80 60 60 re f "
        b"/Lab cs 60 -40 30 sc 200 150 60 40 re f "
        b"/Spot cs 0.7 sc 270 150 60 40 re f "
        b"q 60 0 0 60 340 10 cm /Im2 Do Q"
    )
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 410 200] /Contents 4 0 R "
        b"/Resources << /XObject << /Im1 5 0 R /Im2 8 0 R >> "
        b"/ColorSpace << /ICC [/ICCBased 6 0 R] /Lab [/Lab << /WhitePoint [0.9505 1 1.089] "
        b"/Range [-100 100 -100 100] >>] /Spot [/Separation /Forest /DeviceCMYK 7 0 R] >> >> >>",
        stream(content),
        stream(bytes(cmyk), b" /Type /XObject /Subtype /Image /Width %d /Height %d "
               b"/ColorSpace /DeviceCMYK /BitsPerComponent 8" % (size, size)),
        stream(srgb_profile(), b" /N 3 /Alternate /DeviceRGB"),
        b"<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0.9 0.2 0.9 0.3] /N 1 >>",
        stream(indexed, b" /Type /XObject /Subtype /Image /Width 4 /Height 4 "
               b"/ColorSpace [/Indexed /DeviceRGB 3 <20A040 C03010 1040E0 F0F0A0>] "
               b"/BitsPerComponent 8"),
    ]
    return pdf_bytes(objects)


def user_unit():
    """A small page; a letter-sized page whose /UserUnit makes each unit 75000 points (46 million
    by 59 million pixels at 72 dpi); a strip two billion points long and one high."""
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R 5 0 R 6 0 R] /Count 3 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents 4 0 R >>",
        stream(b"0 0 1 rg 10 10 50 50 re f"),
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /UserUnit 75000 "
        b"/Contents 4 0 R >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 2000000000 1] /Contents 4 0 R >>",
    ]
    return pdf_bytes(objects)


def tiled_jpx(side, tile=512, grey=90):
    """A JPEG 2000 codestream of one grey, `side` pixels square: one tile encoded by Pillow and
    repeated, so a file of a few kilobytes makes openjpeg allocate 4 bytes per pixel."""
    from PIL import Image
    buffer = io.BytesIO()
    Image.new("L", (2 * tile, tile), grey).save(buffer, "JPEG2000", no_jp2=True,
                                                tile_size=(tile, tile))
    data = buffer.getvalue()
    sot = data.index(b"\xff\x90")
    header = bytearray(data[:sot])
    siz = header.index(b"\xff\x51")
    struct.pack_into(">II", header, siz + 6, side, side)  # Xsiz, Ysiz
    part = data[sot:sot + struct.unpack_from(">I", data, sot + 6)[0]]
    out = bytearray(header)
    for index in range(((side + tile - 1) // tile) ** 2):
        copy = bytearray(part)
        struct.pack_into(">H", copy, 4, index)  # Isot
        out += copy
    return bytes(out + b"\xff\xd9")


def jpx_bomb(side=8192):
    """A blue square, a 200-point page filled with a grey JPEG 2000 image of side x side pixels
    (decoding it takes about 340 MB), then a red square."""
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
        b"/Resources << /XObject << /I 5 0 R >> >> /Contents 4 0 R >>",
        stream(b"0 0 1 rg 10 10 30 30 re f q 200 0 0 200 0 0 cm /I Do Q "
               b"1 0 0 rg 150 150 30 30 re f"),
        stream(tiled_jpx(side), b" /Type /XObject /Subtype /Image /Width %d /Height %d "
               b"/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /JPXDecode" % (side, side)),
    ]
    return pdf_bytes(objects)


def page_tree_bomb(refs=5000000):
    """One page listed `refs` times among the kids of the root page tree node, which lies in a
    compressed object stream: 40 KB of file, about 250 MB once MuPDF has parsed the array."""
    objects = {
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        3: b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents 4 0 R >>",
        4: stream(b"0 0 1 rg 10 10 50 50 re f"),
    }
    packed = zlib.compress(b"2 0 << /Type /Pages /Count 1 /Kids [" + b"3 0 R " * refs + b"] >>", 9)
    objects[5] = (b"<< /Type /ObjStm /N 1 /First 4 /Length %d /Filter /FlateDecode >>\nstream\n"
                  % len(packed) + packed + b"\nendstream")
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for number, body in objects.items():
        offsets[number] = len(out)
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    # A cross-reference stream (object 6): object 2 is the first in object stream 5.
    rows = [(0, 0, 65535), (1, offsets[1], 0), (2, 5, 0), (1, offsets[3], 0),
            (1, offsets[4], 0), (1, offsets[5], 0), (1, len(out), 0)]
    table = b"".join(struct.pack(">BIH", *row) for row in rows)
    start = len(out)
    out += (b"6 0 obj\n<< /Type /XRef /Size 7 /W [1 4 2] /Root 1 0 R /Length %d >>\nstream\n"
            % len(table) + table + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % start)
    return bytes(out)


def qpdf_encrypt(source, target, user, owner, bits, extra=(), mode="auto"):
    # --password-mode=unicode: qpdf stores a non-ASCII password the way each revision expects.
    subprocess.run(["qpdf", "--allow-weak-crypto", "--password-mode=" + mode, "--encrypt", user,
                    owner, str(bits), *extra, "--", source, target], check=True)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)

    def write(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        return os.path.join(folder, name)

    # Letter portrait, letter landscape and a 4 x 3 inch page: sizes differ per page.
    plain = write("three.pdf", document([(612, 792), (792, 612), (288, 216)]))
    write("twelve.pdf", document([(144, 72)] * 12, title=b"Twelve"))
    write("absurd-count.pdf", document([(144, 144), (144, 144)], count=1000000000))
    write("type3-loop.pdf", type3_loop())
    write("cyclic-tree.pdf", cyclic_tree())
    write("tree-loop-first.pdf", tree_loop(page_second=False))
    write("tree-loop-second.pdf", tree_loop(page_second=True))
    write("deep-tree.pdf", deep_tree())
    write("type3-between-shapes.pdf", type3_between_shapes())
    write("colour-spaces.pdf", colour_spaces())
    write("heavy-page.pdf", heavy_page())
    write("heavy-fifth.pdf", eight_with_heavy_fifth())
    write("busy-pages.pdf", busy_pages())
    write("tiny-tiling.pdf", tiny_tiling())
    write("damaged-jpeg.pdf", damaged_jpeg())
    # Four pages of 18900 points (262 inches) in a file of a kilobyte or two.
    write("huge-pages.pdf", document([(18900, 18900)] * 4, title=b"Huge"))
    write("poster.pdf", poster())
    # At 72 dpi, a small page and then widths around the limits of JPEG, PCX, GIF and TGA; last
    # a page whose 24-bit BMP would pass 4 GiB.
    write("format-limits.pdf", document([(100, 100), (65500, 8), (65501, 8), (65534, 8),
                                         (65535, 8), (65536, 8), (38000, 38000)], title=b"Wide"))
    write("user-unit.pdf", user_unit())
    write("jpx-bomb.pdf", jpx_bomb())
    write("page-tree-bomb.pdf", page_tree_bomb())
    write("not-a-pdf.pdf", b"This is plain text, not a PDF at all.\n" * 20)
    write("damaged.pdf", b"%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 9 0 R\n" + b"\x00\xff" * 64)
    write("empty.pdf", b"")

    encrypt = [
        ("rc4-40.pdf", "secret", "owner", 40, ()),
        ("rc4-128.pdf", "secret", "owner", 128, ("--use-aes=n",)),
        ("aes-128.pdf", "secret", "owner", 128, ("--use-aes=y",)),
        ("aes-256.pdf", "secret", "owner", 256, ()),
        ("owner-only.pdf", "", "owner", 256, ()),
        ("blank-password.pdf", "my secret pw", "owner", 256, ()),
    ]
    for name, user, owner, bits, extra in encrypt:
        qpdf_encrypt(plain, os.path.join(folder, name), user, owner, bits, extra)
    # "ä" as PDFDocEncoding byte for the RC4 revision, as UTF-8 for AES-256.
    qpdf_encrypt(plain, os.path.join(folder, "umlaut-rc4.pdf"), "\u00e4", "owner", 128,
                 ("--use-aes=n",), "unicode")
    qpdf_encrypt(plain, os.path.join(folder, "umlaut-aes256.pdf"), "\u00e4", "owner", 256,
                 (), "unicode")


if __name__ == "__main__":
    main()
