#!/usr/bin/python3
"""Reads an image with Pillow and prints what it found as key=value lines.

Usage: inspect_image.py IMAGE [REFERENCE.rgb WIDTH HEIGHT MODE]
With a reference (raw 8-bit RGB rows), the first page is compared with it after
both are brought to MODE (RGB, L, or 1 = grey thresholded at mid-grey).
"""
import sys
from PIL import Image, ImageChops, ImageStat

path = sys.argv[1]
img = Image.open(path)
print("format=%s" % img.format)
print("mode=%s" % img.mode)
print("size=%dx%d" % img.size)
dpi = img.info.get("dpi")
if dpi:
    print("dpi=%dx%d" % (round(float(dpi[0])), round(float(dpi[1]))))
frames = getattr(img, "n_frames", 1)
print("frames=%d" % frames)
sizes = []
for i in range(frames):
    img.seek(i)
    sizes.append("%dx%d" % img.size)
print("frame_sizes=%s" % ",".join(sizes))
if img.mode == "P":
    print("palette_colours=%d" % len(img.getcolors(1 << 24) or []))
img.seek(0)

if len(sys.argv) > 2:
    ref_path, width, height, mode = sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
    with open(ref_path, "rb") as f:
        ref = Image.frombytes("RGB", (width, height), f.read())
    got = img.convert("RGB")
    if mode in ("L", "1"):
        ref = ref.convert("L")
        got = got.convert("L")
    if mode == "1":
        ref = ref.point(lambda v: 0 if v < 128 else 255)
    diff = ImageChops.difference(ref, got)
    mean = sum(ImageStat.Stat(diff).mean) / len(diff.getbands())
    big = sum(1 for v in diff.convert("L").getdata() if v > 8)
    print("mean_diff=%.3f" % mean)
    extrema = diff.getextrema()
    if diff.mode == "L":
        extrema = [extrema]
    print("max_diff=%d" % max(hi for lo, hi in extrema))
    print("far_fraction=%.5f" % (big / float(width * height)))
