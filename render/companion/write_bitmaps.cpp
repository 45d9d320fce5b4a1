// The simple raster formats written by hand: BMP, PCX and TGA.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace pxcodec {

namespace {

uint32_t pixelsPerMetre(int dpi) {
    return dpi > 0 ? static_cast<uint32_t>(std::lround(dpi / 0.0254)) : 0;
}

unsigned dpi16(int dpi) {
    if (dpi <= 0)
        return 72;
    return dpi > 65535 ? 65535u : static_cast<unsigned>(dpi);
}

void toBgr(uint8_t* dst, const uint8_t* rgb, int width) {
    for (int x = 0; x < width; ++x) {
        dst[3 * x] = rgb[3 * x + 2];
        dst[3 * x + 1] = rgb[3 * x + 1];
        dst[3 * x + 2] = rgb[3 * x];
    }
}

// PCX run-length coding of one plane of one scan line. Runs stop at 63, and a
// single byte whose two top bits are set must be coded as a run of one.
void pcxEncode(std::vector<uint8_t>& dst, const uint8_t* src, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const uint8_t v = src[i];
        std::size_t run = 1;
        while (i + run < n && run < 63 && src[i + run] == v)
            ++run;
        if (run > 1 || (v & 0xC0) == 0xC0)
            dst.push_back(static_cast<uint8_t>(0xC0 | run));
        dst.push_back(v);
        i += run;
    }
}

// TGA run-length coding of one scan line of `bpp`-byte pixels: packets of up
// to 128 pixels, repeated ones as runs, the rest as raw packets.
void tgaEncode(std::vector<uint8_t>& dst, const uint8_t* src, int width, std::size_t bpp) {
    auto same = [&](int a, int b) { return std::memcmp(src + a * bpp, src + b * bpp, bpp) == 0; };
    int i = 0;
    while (i < width) {
        int run = 1;
        while (i + run < width && run < 128 && same(i, i + run))
            ++run;
        if (run >= 2) {
            dst.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            dst.insert(dst.end(), src + i * bpp, src + (i + 1) * bpp);
            i += run;
            continue;
        }
        const int start = i;
        while (i < width && i - start < 128 && !(i + 1 < width && same(i, i + 1)))
            ++i;
        dst.push_back(static_cast<uint8_t>(i - start - 1));
        dst.insert(dst.end(), src + start * bpp, src + i * bpp);
    }
}

} // namespace

int writeBmp(OutFile& out, const px_image& img, Tone tone) {
    if (tone == Tone::Bilevel)
        tone = Tone::Grey;
    RowReader rows(img, tone);
    const uint64_t stride = (rows.rowBytes() + 3) & ~std::size_t{3};
    const uint32_t paletteBytes = tone == Tone::Grey ? 256 * 4 : 0;
    const uint64_t offset = 14 + 40 + paletteBytes;
    const uint64_t imageBytes = stride * static_cast<uint64_t>(img.height);
    // BITMAPFILEHEADER
    out.put8('B');
    out.put8('M');
    out.put32le(static_cast<uint32_t>(offset + imageBytes));
    out.put32le(0);
    out.put32le(static_cast<uint32_t>(offset));
    // BITMAPINFOHEADER; a positive height means rows run bottom-up.
    out.put32le(40);
    out.put32le(static_cast<uint32_t>(img.width));
    out.put32le(static_cast<uint32_t>(img.height));
    out.put16le(1);
    out.put16le(tone == Tone::Grey ? 8 : 24);
    out.put32le(0); // BI_RGB
    out.put32le(static_cast<uint32_t>(imageBytes));
    out.put32le(pixelsPerMetre(img.xdpi));
    out.put32le(pixelsPerMetre(img.ydpi));
    out.put32le(tone == Tone::Grey ? 256 : 0);
    out.put32le(0);
    if (tone == Tone::Grey)
        for (unsigned i = 0; i < 256; ++i)
            out.put32le(i | i << 8 | i << 16);
    std::vector<uint8_t> line(stride, 0);
    for (int y = img.height - 1; y >= 0 && out.error() == 0 && !rows.failed(); --y) {
        const uint8_t* src = rows.row(y);
        if (tone == Tone::Colour)
            toBgr(line.data(), src, img.width);
        else
            std::memcpy(line.data(), src, rows.rowBytes());
        out.write(line.data(), line.size());
    }
    return rows.failed() ? rows.error() : out.error();
}

int writePcx(OutFile& out, const px_image& img, Tone tone) {
    if (tone == Tone::Bilevel)
        tone = Tone::Grey;
    RowReader rows(img, tone);
    const int planes = channelsOf(tone);
    const std::size_t lineBytes = (static_cast<std::size_t>(img.width) + 1) & ~std::size_t{1};
    uint8_t header[128] = {};
    auto put16 = [&header](int at, unsigned v) {
        header[at] = static_cast<uint8_t>(v);
        header[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    header[0] = 0x0A; // manufacturer
    header[1] = 5;    // version 3.0 and later
    header[2] = 1;    // run-length coding
    header[3] = 8;    // bits per pixel and plane
    put16(8, static_cast<unsigned>(img.width - 1));
    put16(10, static_cast<unsigned>(img.height - 1));
    put16(12, dpi16(img.xdpi));
    put16(14, dpi16(img.ydpi));
    header[65] = static_cast<uint8_t>(planes);
    put16(66, static_cast<unsigned>(lineBytes));
    put16(68, tone == Tone::Grey ? 2 : 1); // palette interpretation: grey or colour
    out.write(header, sizeof header);

    std::vector<uint8_t> plane(lineBytes, 0);
    std::vector<uint8_t> packed;
    packed.reserve(lineBytes * 2 * static_cast<std::size_t>(planes));
    for (int y = 0; y < img.height && out.error() == 0 && !rows.failed(); ++y) {
        const uint8_t* src = rows.row(y);
        packed.clear();
        for (int p = 0; p < planes; ++p) {
            for (int x = 0; x < img.width; ++x)
                plane[static_cast<std::size_t>(x)] = src[x * planes + p];
            pcxEncode(packed, plane.data(), lineBytes);
        }
        out.write(packed.data(), packed.size());
    }
    if (tone == Tone::Grey) {
        out.put8(0x0C); // a 256-entry palette follows the image
        for (unsigned i = 0; i < 256; ++i) {
            const uint8_t rgb[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i),
                                    static_cast<uint8_t>(i)};
            out.write(rgb, 3);
        }
    }
    return rows.failed() ? rows.error() : out.error();
}

int writeTga(OutFile& out, const px_image& img, Tone tone) {
    if (tone == Tone::Bilevel)
        tone = Tone::Grey;
    RowReader rows(img, tone);
    const std::size_t bpp = static_cast<std::size_t>(channelsOf(tone));
    uint8_t header[18] = {};
    header[2] = tone == Tone::Colour ? 10 : 11; // run-length true colour / grey
    header[12] = static_cast<uint8_t>(img.width);
    header[13] = static_cast<uint8_t>(img.width >> 8);
    header[14] = static_cast<uint8_t>(img.height);
    header[15] = static_cast<uint8_t>(img.height >> 8);
    header[16] = static_cast<uint8_t>(8 * bpp);
    header[17] = 0; // origin bottom left, the layout every reader understands
    out.write(header, sizeof header);

    std::vector<uint8_t> bgr(tone == Tone::Colour ? rows.rowBytes() : 0);
    std::vector<uint8_t> packed;
    packed.reserve(rows.rowBytes() + rows.rowBytes() / 64 + 2);
    for (int y = img.height - 1; y >= 0 && out.error() == 0 && !rows.failed(); --y) {
        const uint8_t* src = rows.row(y);
        if (tone == Tone::Colour) {
            toBgr(bgr.data(), src, img.width);
            src = bgr.data();
        }
        packed.clear();
        tgaEncode(packed, src, img.width, bpp);
        out.write(packed.data(), packed.size());
    }
    // TGA 2.0 footer without extension or developer areas.
    out.put32le(0);
    out.put32le(0);
    static const char signature[18] = "TRUEVISION-XFILE.";
    out.write(signature, sizeof signature);
    return rows.failed() ? rows.error() : out.error();
}

} // namespace pxcodec
