#!/usr/bin/python3
"""Describes image files with Pillow, one line per frame:

    FILENAME FORMAT WIDTH HEIGHT MODE XDPI YDPI COMPRESSION COLOURS

FILENAME is the file's name without its folder, with blanks as "?".
COMPRESSION is the TIFF Compression tag (0 for other formats), XDPI/YDPI are 0 when the file
stores no resolution, COLOURS is "colour" when a pixel is not grey, "grey" when every pixel is
grey and more than black and white is used, "bw" for black and white only.
"""
import os
import sys

from PIL import Image, ImageSequence


def colours(frame):
    rgb = frame.convert("RGB")
    if any(r != g or g != b for r, g, b in rgb.getdata()):
        return "colour"
    values = set(rgb.convert("L").getdata())
    return "bw" if values <= {0, 255} else "grey"


def describe(path):
    name = os.path.basename(path).replace(" ", "?")
    with Image.open(path) as image:
        image_format = image.format
        for frame in ImageSequence.Iterator(image):
            dpi = frame.info.get("dpi", (0, 0))
            compression = 0
            if image_format == "TIFF":
                compression = frame.tag_v2.get(259, 1)
            print(name, image_format, frame.width, frame.height, frame.mode,
                  round(float(dpi[0])), round(float(dpi[1])), compression, colours(frame))


def main():
    for path in sys.argv[1:]:
        describe(path)


if __name__ == "__main__":
    main()
