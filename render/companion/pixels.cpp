// Conversion of rendered rows to the layout a file format stores.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace pxcodec {

int channelsOf(Tone tone) {
    return tone == Tone::Colour ? 3 : 1;
}

namespace {

// Rec. 601 luminance in 16-bit fixed point (the weights sum to 65536, so white stays 255):
// grey files look like the colour rendering, whatever colour spaces the page used.
inline uint8_t luma(const uint8_t* p) {
    return static_cast<uint8_t>((19595u * p[0] + 38470u * p[1] + 7471u * p[2] + 32768u) >> 16);
}

// Eight RGB pixels that are all white: rendered pages are mostly paper.
inline bool whiteOctet(const uint8_t* p) {
    uint64_t a, b, c;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    std::memcpy(&c, p + 16, 8);
    return (a & b & c) == ~uint64_t{0};
}

void greyFromRgb(uint8_t* dst, const uint8_t* src, int w) {
    int x = 0;
    for (; x + 8 <= w; x += 8, src += 24) {
        if (whiteOctet(src)) {
            std::memset(dst + x, 255, 8);
            continue;
        }
        for (int k = 0; k < 8; ++k)
            dst[x + k] = luma(src + 3 * k);
    }
    for (; x < w; ++x, src += 3)
        dst[x] = luma(src);
}

// 1 bit per pixel, set for black: a plain threshold at mid-grey keeps text crisp, which is
// what fax readers expect.
void bilevelFromRgb(uint8_t* dst, const uint8_t* src, int w) {
    int x = 0;
    for (; x + 8 <= w; x += 8, src += 24) {
        uint8_t bits = 0;
        if (!whiteOctet(src))
            for (int k = 0; k < 8; ++k)
                bits |= static_cast<uint8_t>((luma(src + 3 * k) < 128) << (7 - k));
        dst[x >> 3] = bits;
    }
    if (x < w) {
        const int at = x >> 3;
        uint8_t bits = 0;
        for (int k = 0; x < w; ++x, ++k, src += 3)
            bits |= static_cast<uint8_t>((luma(src) < 128) << (7 - k));
        dst[at] = bits;
    }
}

void bilevelFromGrey(uint8_t* dst, const uint8_t* src, int w) {
    std::memset(dst, 0, (static_cast<std::size_t>(w) + 7) / 8);
    for (int x = 0; x < w; ++x)
        if (src[x] < 128)
            dst[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
}

std::size_t rowBytesFor(int width, Tone tone) {
    const auto w = static_cast<std::size_t>(width);
    switch (tone) {
    case Tone::Colour:
        return w * 3;
    case Tone::Grey:
        return w;
    case Tone::Bilevel:
        return (w + 7) / 8;
    }
    return w;
}

} // namespace

RowReader::RowReader(const px_image& img, Tone tone)
    : m_img(img), m_tone(tone), m_rowBytes(rowBytesFor(img.width, tone)) {
    const bool inPlace = (tone == Tone::Colour && img.components == 3) ||
                         (tone == Tone::Grey && img.components == 1);
    if (!inPlace)
        m_scratch.resize(m_rowBytes);
}

const uint8_t* RowReader::source(int y) {
    if (m_img.samples != nullptr)
        return m_img.samples + static_cast<std::ptrdiff_t>(y) * m_img.stride;
    if (m_error == 0 && (y < m_bandFirst || y >= m_bandFirst + m_bandCount)) {
        const px_bands& bands = *m_img.bands;
        const unsigned char* samples = nullptr;
        m_error = bands.fetch(bands.opaque, y, &samples, &m_bandStride, &m_bandFirst, &m_bandCount);
        if (m_error == 0 &&
            (samples == nullptr || y < m_bandFirst || y >= m_bandFirst + m_bandCount))
            m_error = EIO;
        m_band = m_error == 0 ? samples : nullptr;
    }
    if (m_error != 0) {
        if (m_blank.empty())
            m_blank.assign(static_cast<std::size_t>(m_img.width) * m_img.components, 255);
        return m_blank.data();
    }
    return m_band + static_cast<std::ptrdiff_t>(y - m_bandFirst) * m_bandStride;
}

const uint8_t* RowReader::row(int y) {
    const uint8_t* src = source(y);
    if (m_scratch.empty())
        return src;
    const int w = m_img.width;
    uint8_t* dst = m_scratch.data();
    switch (m_tone) {
    case Tone::Colour: // grey source, colour file
        for (int x = 0; x < w; ++x)
            dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
        break;
    case Tone::Grey:
        greyFromRgb(dst, src, w);
        break;
    case Tone::Bilevel:
        if (m_img.components == 3)
            bilevelFromRgb(dst, src, w);
        else
            bilevelFromGrey(dst, src, w);
        break;
    }
    return dst;
}

} // namespace pxcodec
