// Conversion of rendered rows to the layout a file format stores.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstring>

namespace pxcodec {

int channelsOf(Tone tone) {
    return tone == Tone::Colour ? 3 : 1;
}

namespace {

inline uint8_t luma(const uint8_t* p) {
    // ITU-R BT.601 weights in 8-bit fixed point; they sum to 256, so white stays 255.
    return static_cast<uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8);
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
        m_scratch.resize(m_tone == Tone::Colour ? m_rowBytes : m_rowBytes + img.width);
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
    if (m_tone == Tone::Colour) { // grey source, colour file
        for (int x = 0; x < w; ++x)
            dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
        return dst;
    }
    const uint8_t* grey = src;
    if (m_img.components == 3) {
        uint8_t* g = m_tone == Tone::Grey ? dst : dst + m_rowBytes;
        for (int x = 0; x < w; ++x)
            g[x] = luma(src + 3 * x);
        grey = g;
    }
    if (m_tone == Tone::Grey)
        return grey;
    // Plain threshold at mid-grey: text stays crisp, which is what fax readers expect.
    std::memset(dst, 0, m_rowBytes);
    for (int x = 0; x < w; ++x)
        if (grey[x] < 128)
            dst[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    return dst;
}

} // namespace pxcodec
