// PNG written directly: a cheap per-row filter choice and one libdeflate zlib
// stream. Deflate dominates PNG time; libdeflate at a low level runs about
// twice as fast as zlib's default level with files of about the same size.
#include "render/companion/codec_p.h"
#include "render/companion/rawbuffer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <libdeflate.h>
#include <zlib.h>

namespace pxcodec {

namespace {

// Level 2 measured best on rendered pages: about twice zlib's speed at the
// default level, files within a few percent of its size.
constexpr int DefaultLevel = 2;

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

void chunk(OutFile& out, const char type[4], const uint8_t* data, std::size_t size) {
    out.put32be(static_cast<uint32_t>(size));
    uint32_t crc = libdeflate_crc32(0, type, 4);
    out.write(type, 4);
    if (size > 0) {
        crc = libdeflate_crc32(crc, data, size);
        out.write(data, size);
    }
    out.put32be(crc);
}

void store32be(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t pixelsPerMetre(int dpi) {
    return static_cast<uint32_t>(std::lround(dpi / 0.0254));
}

void filterUp(uint8_t* dst, const uint8_t* cur, const uint8_t* prev, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = static_cast<uint8_t>(cur[i] - prev[i]);
}

struct Scratch {
    RawBuffer raw, packed;
    std::vector<uint8_t> prev;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;
    int level = -1;
};

bool mostlySaturated(const uint8_t* p, std::size_t n) {
    // Every fourth byte is sample enough and keeps the test cheap.
    std::size_t saturated = 0;
    std::size_t seen = 0;
    for (std::size_t i = 0; i < n; i += 4, ++seen)
        saturated += static_cast<uint8_t>(p[i] + 1) < 2; // 0 or 255
    return saturated * 2 >= seen;
}

void writeHeader(OutFile& out, const px_image& img, Tone tone) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    out.write(signature, sizeof signature);
    uint8_t header[13];
    store32be(header, static_cast<uint32_t>(img.width));
    store32be(header + 4, static_cast<uint32_t>(img.height));
    header[8] = 8;                            // bits per sample
    header[9] = tone == Tone::Colour ? 2 : 0; // truecolour or greyscale
    header[10] = header[11] = header[12] = 0; // deflate, adaptive filtering, no interlace
    chunk(out, "IHDR", header, sizeof header);
    if (img.xdpi > 0 && img.ydpi > 0) {
        uint8_t phys[9];
        store32be(phys, pixelsPerMetre(img.xdpi));
        store32be(phys + 4, pixelsPerMetre(img.ydpi));
        phys[8] = 1; // unit: metre
        chunk(out, "pHYs", phys, sizeof phys);
    }
}

// IDAT chunks of bounded size keep every chunk length far below the 2^31 limit.
constexpr std::size_t IdatSize = 1 << 20;

// Writes row y, filtered, as its filter byte and n bytes at dst. Rows of rendered text and
// line art are mostly pure white or black: deflate finds the repeating glyph shapes best in
// them unfiltered, and fastest. Smooth rows (photos, gradients) get the Up filter, which
// measured smallest on photographs, without trying others: every row tried twice costs more
// time than it saves bytes.
class RowFilter {
public:
    RowFilter(RowReader& rows, Scratch& scratch)
        : m_rows(rows), m_n(rows.rowBytes()), m_scratch(scratch) {
        m_scratch.prev.assign(m_n, 0);
    }

    void filter(int y, uint8_t* dst) {
        const uint8_t* cur = m_rows.row(y);
        const uint8_t* prev = m_prev ? m_prev : m_scratch.prev.data();
        if (mostlySaturated(cur, m_n)) {
            dst[0] = 0;
            std::memcpy(dst + 1, cur, m_n);
        } else {
            dst[0] = 2;
            filterUp(dst + 1, cur, prev, m_n);
        }
        // Rows of a whole image stay where they are; others are kept for the next row.
        if (m_rows.stable()) {
            m_prev = cur;
        } else {
            std::memcpy(m_scratch.prev.data(), cur, m_n);
        }
    }

private:
    RowReader& m_rows;
    std::size_t m_n;
    Scratch& m_scratch;
    const uint8_t* m_prev = nullptr;
};

// An image held whole: one libdeflate call over all its rows, the fastest way.
// Filters an image whose rows already lie one spare byte apart where they are, bottom up so
// that each row's upper neighbour is still unfiltered: no copy of the page.
const uint8_t* filterInPlace(const px_image& img, std::size_t n) {
    auto* base = const_cast<uint8_t*>(img.samples) - 1;
    const std::size_t stride = n + 1;
    for (int y = img.height - 1; y >= 0; --y) {
        uint8_t* row = base + static_cast<std::size_t>(y) * stride;
        uint8_t* cur = row + 1;
        if (mostlySaturated(cur, n)) {
            row[0] = 0;
        } else {
            row[0] = 2;
            if (y > 0) // above the first row lies a row of zeros
                filterUp(cur, cur, cur - stride, n);
        }
    }
    return base;
}

int writeWhole(OutFile& out, const px_image& img, RowReader& rows, RowFilter& filter,
               Scratch& scratch, int level) {
    const std::size_t stride = rows.rowBytes() + 1;
    const std::size_t rawSize = stride * static_cast<std::size_t>(img.height);
    const uint8_t* raw = nullptr;
    if (img.row_slack == 1 && rows.stable() && img.stride == static_cast<ptrdiff_t>(stride)) {
        raw = filterInPlace(img, rows.rowBytes());
    } else {
        scratch.raw.grow(rawSize);
        for (int y = 0; y < img.height; ++y)
            filter.filter(y, scratch.raw.data() + static_cast<std::size_t>(y) * stride);
        raw = scratch.raw.data();
    }

    if (!scratch.compressor || scratch.level != level) {
        scratch.compressor.reset(libdeflate_alloc_compressor(level));
        scratch.level = level;
    }
    libdeflate_compressor* compressor = scratch.compressor.get();
    if (!compressor)
        return ENOMEM;
    RawBuffer& packed = scratch.packed;
    packed.grow(libdeflate_zlib_compress_bound(compressor, rawSize));
    const std::size_t packedSize =
        libdeflate_zlib_compress(compressor, raw, rawSize, packed.data(), packed.size());
    if (packedSize == 0)
        return ENOMEM;
    for (std::size_t pos = 0; pos < packedSize && out.error() == 0; pos += IdatSize) {
        const std::size_t len = packedSize - pos < IdatSize ? packedSize - pos : IdatSize;
        chunk(out, "IDAT", packed.data() + pos, len);
    }
    return 0;
}

struct DeflateEnd {
    void operator()(z_stream* z) const { deflateEnd(z); }
};

// An image in bands: libdeflate has no streaming interface, so zlib compresses a few
// megabytes of filtered rows at a time and the chunks go out as they fill.
int writeStreamed(OutFile& out, RowReader& rows, int height, RowFilter& filter, int level) {
    z_stream z{};
    // zlib's fastest level is about as quick as libdeflate's low ones and files stay close.
    if (deflateInit(&z, level <= 2 ? 1 : (level > 9 ? 9 : level)) != Z_OK)
        return ENOMEM;
    std::unique_ptr<z_stream, DeflateEnd> ender(&z);
    const std::size_t stride = rows.rowBytes() + 1;
    const int rowsPerPiece = static_cast<int>(std::max<std::size_t>(1, (4u << 20) / stride));
    std::vector<uint8_t> raw(stride * static_cast<std::size_t>(std::min(rowsPerPiece, height)));
    std::vector<uint8_t> packed(IdatSize);
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    for (int y = 0; y < height && out.error() == 0 && !rows.failed();) {
        const int count = std::min(rowsPerPiece, height - y);
        for (int i = 0; i < count; ++i)
            filter.filter(y + i, raw.data() + static_cast<std::size_t>(i) * stride);
        y += count;
        z.next_in = raw.data();
        z.avail_in = static_cast<uInt>(stride * static_cast<std::size_t>(count));
        const int flush = y == height ? Z_FINISH : Z_NO_FLUSH;
        for (;;) {
            const int rc = deflate(&z, flush);
            if (rc == Z_STREAM_ERROR)
                return EIO;
            if (z.avail_out == 0 || rc == Z_STREAM_END) {
                chunk(out, "IDAT", packed.data(), packed.size() - z.avail_out);
                z.next_out = packed.data();
                z.avail_out = static_cast<uInt>(packed.size());
            }
            if (rc == Z_STREAM_END || (flush == Z_NO_FLUSH && z.avail_in == 0 && z.avail_out != 0))
                break;
        }
    }
    return 0;
}

} // namespace

int writePng(OutFile& out, const px_image& img, Tone tone) {
    if (tone == Tone::Bilevel)
        tone = Tone::Grey;
    RowReader rows(img, tone);
    // Buffers and compressor live as long as the calling thread: a page's buffers are
    // megabytes, and fresh ones cost a page fault for every 4 KiB on every page.
    thread_local Scratch scratch;
    RowFilter filterer(rows, scratch);
    writeHeader(out, img, tone);
    const int rc = img.samples != nullptr
                       ? writeWhole(out, img, rows, filterer, scratch, DefaultLevel)
                       : writeStreamed(out, rows, img.height, filterer, DefaultLevel);
    if (rc != 0)
        return rc;
    if (rows.failed())
        return rows.error();
    chunk(out, "IEND", nullptr, 0);
    return out.error();
}

} // namespace pxcodec
