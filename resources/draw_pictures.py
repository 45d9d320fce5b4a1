#!/usr/bin/python3
"""Draws Pixolund's own pictures (the information icon, the About banner, the program icon in
the program and in the desktop's icon theme).

Run with Debian's python3 (python3-pil) from the repository root; the PNGs are committed, so this
is only needed when the artwork changes.
"""
from PIL import Image, ImageDraw, ImageFont

OUT = "resources/pictures/"
ICONS = "resources/icons/"
HICOLOR = "resources/desktop/icons/"
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
ACCENT = (38, 110, 196)
ACCENT_DARK = (22, 72, 140)


def info_icon(size):
    """A blue disc with a white "i", drawn 4x larger and scaled down for smooth edges."""
    big = size * 4
    img = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    m = big // 24
    d.ellipse((m, m, big - m, big - m), fill=ACCENT_DARK)
    d.ellipse((m * 2, m * 2, big - m * 2, big - m * 2), fill=ACCENT)
    cx = big // 2
    dot = big // 9
    d.ellipse((cx - dot, big * 0.22 - dot, cx + dot, big * 0.22 + dot), fill="white")
    w = big // 12
    d.rounded_rectangle((cx - w, big * 0.38, cx + w, big * 0.78), radius=w // 2, fill="white")
    return img.resize((size, size), Image.LANCZOS)


def banner():
    w, h = 400, 58
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    for x in range(w):
        t = x / (w - 1)
        c = tuple(int(ACCENT_DARK[i] + (ACCENT[i] - ACCENT_DARK[i]) * t) for i in range(3))
        d.line((x, 0, x, h), fill=c)
    # A stack of three "pages turning into pictures" on the right.
    for k, off in enumerate((0, 10, 20)):
        x0, y0 = 300 + off, 8 + off // 2
        d.rectangle((x0, y0, x0 + 44, y0 + 34), fill=(255, 255, 255), outline=(210, 225, 245))
        d.polygon([(x0 + 6, y0 + 28), (x0 + 18, y0 + 14), (x0 + 28, y0 + 24), (x0 + 34, y0 + 18),
                   (x0 + 40, y0 + 28)], fill=(120, 170, 90) if k == 2 else (200, 215, 235))
    d.text((20, 9), "Pixolund", font=ImageFont.truetype(FONT_BOLD, 26), fill="white")
    d.text((22, 39), "PDF to image converter", font=ImageFont.truetype(FONT, 11),
           fill=(215, 230, 250))
    return img


def app_icon(size):
    big = size * 4
    img = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    r = big // 8
    d.rounded_rectangle((big * 0.06, big * 0.06, big * 0.94, big * 0.94), radius=r, fill=ACCENT)
    x0, y0, x1, y1 = big * 0.24, big * 0.2, big * 0.76, big * 0.8
    d.rectangle((x0, y0, x1, y1), fill="white")
    d.polygon([(x0 + big * 0.05, y1 - big * 0.08), (x0 + big * 0.18, y0 + big * 0.3),
               (x0 + big * 0.3, y1 - big * 0.2), (x0 + big * 0.38, y0 + big * 0.38),
               (x1 - big * 0.04, y1 - big * 0.08)], fill=(120, 170, 90))
    d.ellipse((x1 - big * 0.17, y0 + big * 0.06, x1 - big * 0.07, y0 + big * 0.16),
              fill=(240, 190, 60))
    return img.resize((size, size), Image.LANCZOS)


if __name__ == "__main__":
    for s in (48, 32, 16):
        info_icon(s).save(ICONS + "information-%d.png" % s)
    for s in (64, 32, 16):
        app_icon(s).save(ICONS + "pixolund-%d.png" % s)
    banner().save(OUT + "about-banner.png")
    # The desktop's menu and "Open with" take the program icon from the hicolor theme.
    for s in (16, 24, 32, 48, 64, 128, 256):
        app_icon(s).save(HICOLOR + "pixolund-%d.png" % s)
