// GIF through giflib. Colour pages with at most 256 colours keep their exact
// colours. Pages with a few thousand colours (anti-aliased text in several
// inks) get a median-cut palette of their colour histogram and are mapped
// without dithering when that is near-exact; richer pages go through
// libimagequant's full image path with dithering. Grey pages use a plain
// 256-entry grey palette, so readers see them as grey.
// Pages too big to hold whole come in bands and are read twice: once for the
// colours (the palette needs all of them), once to write. The quantiser then
// works from its histogram and maps a piece of rows at a time.
#include "render/companion/codec_p.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <gif_lib.h>
#include <libimagequant.h>

namespace pxcodec {

namespace {

// Fast enough for full pages, while keeping libimagequant's edge-aware
// dithering that makes quantised pages look right.
constexpr int QuantiserSpeed = 8;

int output(GifFileType* gif, const GifByteType* data, int size) {
    auto* out = static_cast<OutFile*>(gif->UserData);
    out->write(data, static_cast<std::size_t>(size));
    return out->error() == 0 ? size : 0;
}

void rgbaRow(liq_color rowOut[], int row, int width, void* user) {
    const auto* img = static_cast<const px_image*>(user);
    const uint8_t* src = img->samples + static_cast<std::ptrdiff_t>(row) * img->stride;
    for (int x = 0; x < width; ++x) {
        rowOut[x].r = src[3 * x];
        rowOut[x].g = src[3 * x + 1];
        rowOut[x].b = src[3 * x + 2];
        rowOut[x].a = 255;
    }
}

struct Quantised {
    liq_attr* attr = nullptr;
    liq_image* image = nullptr;
    liq_result* result = nullptr;
    ~Quantised() {
        if (result != nullptr)
            liq_result_destroy(result);
        if (image != nullptr)
            liq_image_destroy(image);
        if (attr != nullptr)
            liq_attr_destroy(attr);
    }
};

struct GifHandle {
    GifFileType* gif = nullptr;
    ~GifHandle() {
        if (gif != nullptr)
            EGifCloseFile(gif, nullptr);
    }
};

// Palette entries a GIF colour table holds: a power of two, at least 2.
int tableSize(int colours) {
    int size = 2;
    while (size < colours)
        size *= 2;
    return size;
}

// rows(y) gives palette indices for row y, valid until the next call.
int encode(OutFile& out, const px_image& img, const GifColorType* palette, int colours,
           const std::function<const uint8_t*(int)>& rows) {
    const int size = tableSize(colours);
    std::vector<GifColorType> table(static_cast<std::size_t>(size), GifColorType{0, 0, 0});
    std::memcpy(table.data(), palette, sizeof(GifColorType) * static_cast<std::size_t>(colours));
    ColorMapObject* map = GifMakeMapObject(size, table.data());
    if (map == nullptr)
        return ENOMEM;
    int err = 0;
    GifHandle h;
    h.gif = EGifOpen(&out, output, &err);
    if (h.gif == nullptr) {
        GifFreeMapObject(map);
        return ENOMEM;
    }
    const bool headerOk =
        EGifPutScreenDesc(h.gif, img.width, img.height, 8, 0, map) == GIF_OK &&
        EGifPutImageDesc(h.gif, 0, 0, img.width, img.height, false, nullptr) == GIF_OK;
    GifFreeMapObject(map);
    if (!headerOk)
        return out.error() != 0 ? out.error() : EIO;
    // giflib masks the pixels of a line in place, so it always gets our own copy.
    std::vector<GifPixelType> line(static_cast<std::size_t>(img.width));
    for (int y = 0; y < img.height; ++y) {
        std::memcpy(line.data(), rows(y), line.size());
        if (EGifPutLine(h.gif, line.data(), img.width) != GIF_OK)
            return out.error() != 0 ? out.error() : EIO;
    }
    const int rc = EGifCloseFile(h.gif, &err);
    h.gif = nullptr;
    if (rc != GIF_OK)
        return out.error() != 0 ? out.error() : EIO;
    return out.error();
}

int writeGrey(OutFile& out, const px_image& img) {
    GifColorType palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(i),
                                  static_cast<GifByteType>(i)};
    RowReader rows(img, Tone::Grey);
    const int rc = encode(out, img, palette, 256, [&](int y) { return rows.row(y); });
    return rows.failed() ? rows.error() : rc;
}

uint32_t packed(const uint8_t* p) {
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

// Eight pixels of one colour, to compare 24 bytes of a row in three words.
class SameOctet {
public:
    void set(const uint8_t* pixel) {
        uint8_t bytes[24];
        for (int k = 0; k < 24; k += 3)
            std::memcpy(bytes + k, pixel, 3);
        std::memcpy(m_words, bytes, sizeof m_words);
    }
    bool at(const uint8_t* p) const {
        uint64_t w[3];
        std::memcpy(w, p, sizeof w);
        return ((w[0] ^ m_words[0]) | (w[1] ^ m_words[1]) | (w[2] ^ m_words[2])) == 0;
    }

private:
    uint64_t m_words[3] = {};
};

// Calls run(colour, x, length) for each run of one colour in a row of RGB pixels. Pages are
// mostly runs of one colour: those are measured eight pixels at a time.
template <typename Run> void forEachRun(const uint8_t* row, int width, Run run) {
    SameOctet same;
    for (int x = 0; x < width;) {
        const uint8_t* first = row + 3 * x;
        const uint32_t key = packed(first);
        int end = x + 1;
        if (end + 8 <= width && packed(first + 3) == key) {
            same.set(first);
            while (end + 8 <= width && same.at(row + 3 * end))
                end += 8;
        }
        while (end < width && packed(row + 3 * end) == key)
            ++end;
        run(key, x, end - x);
        x = end;
    }
}

// The distinct colours of a page, up to MaxColours, in an open-addressing table.
class PageColours {
public:
    static constexpr int MaxColours = 4096;

    // False as soon as the page has more than MaxColours colours.
    bool count(RowReader& rows, int width, int height) {
        m_keys.assign(Slots, Empty);
        m_ids.resize(Slots);
        m_greyIds.fill(-1);
        m_colours.clear();
        m_uses.clear();
        for (int y = 0; y < height && !rows.failed(); ++y) {
            bool full = false;
            forEachRun(rows.row(y), width, [&](uint32_t key, int, int length) {
                int id = greyId(key);
                if (id < 0) {
                    const uint32_t s = slot(key);
                    if (m_keys[s] == Empty) {
                        if (m_colours.size() == MaxColours) {
                            full = true;
                            return;
                        }
                        m_keys[s] = key;
                        m_ids[s] = static_cast<uint16_t>(m_colours.size());
                        m_colours.push_back(key);
                        m_uses.push_back(0);
                    }
                    id = m_ids[s];
                    if (isGrey(key))
                        m_greyIds[key & 255] = id;
                }
                m_uses[static_cast<std::size_t>(id)] += static_cast<uint32_t>(length);
            });
            if (full)
                return false;
        }
        return true;
    }

    int size() const { return static_cast<int>(m_colours.size()); }
    uint32_t colour(int id) const { return m_colours[static_cast<std::size_t>(id)]; }
    uint32_t uses(int id) const { return m_uses[static_cast<std::size_t>(id)]; }
    // The id of a colour the page was counted with (0 for any other: a page drawn again in
    // bands should match its first drawing, but a stray colour must not index past the table).
    int id(uint32_t key) const {
        if (const int grey = greyId(key); grey >= 0)
            return grey;
        const uint32_t s = slot(key);
        return m_keys[s] == key ? m_ids[s] : 0;
    }

private:
    static constexpr int SlotBits = 14; // a quarter full at most: short probes
    static constexpr uint32_t Slots = 1u << SlotBits;
    static constexpr uint32_t Empty = 0xFFFFFFFFu; // never a packed 24-bit colour

    uint32_t slot(uint32_t key) const {
        uint32_t s = (key * 0x9E3779B1u) >> (32 - SlotBits);
        while (m_keys[s] != key && m_keys[s] != Empty)
            s = (s + 1) & (Slots - 1);
        return s;
    }

    std::vector<uint32_t> m_keys;
    std::vector<uint16_t> m_ids;
    std::vector<uint32_t> m_colours;
    std::vector<uint32_t> m_uses;
    // Anti-aliased black text is all greys: those are looked up by their level, not hashed.
    std::array<int, 256> m_greyIds{};

    static bool isGrey(uint32_t key) {
        return (key >> 16) == (key & 255) && ((key >> 8) & 255) == (key & 255);
    }
    int greyId(uint32_t key) const { return isGrey(key) ? m_greyIds[key & 255] : -1; }
};

// Largest squared RGB distance from a page colour to its palette entry that
// still maps without dithering: a few steps of an anti-aliasing ramp, which
// do not show at glyph edges. Smooth fills land farther off and get dithered.
constexpr int NearExact = 3 * 6 * 6;

// One box of the median cut: a run of colour ids and its bounds.
struct Box {
    int begin, end;
    int lo[3], hi[3];
    uint64_t weight;
};

int channel(uint32_t c, int axis) {
    return static_cast<int>(c >> (16 - 8 * axis) & 255);
}

void bound(Box& box, const std::vector<uint16_t>& ids, const PageColours& colours) {
    box.weight = 0;
    for (int a = 0; a < 3; ++a) {
        box.lo[a] = 255;
        box.hi[a] = 0;
    }
    for (int i = box.begin; i < box.end; ++i) {
        const uint32_t c = colours.colour(ids[static_cast<std::size_t>(i)]);
        for (int a = 0; a < 3; ++a) {
            box.lo[a] = std::min(box.lo[a], channel(c, a));
            box.hi[a] = std::max(box.hi[a], channel(c, a));
        }
        box.weight += colours.uses(ids[static_cast<std::size_t>(i)]);
    }
}

int longestAxis(const Box& box) {
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (box.hi[a] - box.lo[a] > box.hi[axis] - box.lo[axis])
            axis = a;
    return axis;
}

// Median cut that always splits the box with the longest side: what decides
// whether a page maps without dithering is its worst colour, and anti-aliasing
// ramps are long and thin, so boxes along them end up a level or two wide.
// The weighted median picks the cut, kept off the box ends so every cut
// shortens the side by at least a quarter.
int medianCut(const PageColours& colours, GifColorType palette[256]) {
    const int n = colours.size();
    std::vector<uint16_t> ids(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        ids[static_cast<std::size_t>(i)] = static_cast<uint16_t>(i);
    std::vector<Box> boxes;
    boxes.reserve(256);
    boxes.push_back(Box{0, n, {}, {}, 0});
    bound(boxes.back(), ids, colours);
    while (boxes.size() < 256) {
        std::size_t pick = 0;
        int longest = -1;
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            const int a = longestAxis(boxes[b]);
            const int side = boxes[b].hi[a] - boxes[b].lo[a];
            if (side > longest || (side == longest && boxes[b].weight > boxes[pick].weight)) {
                longest = side;
                pick = b;
            }
        }
        if (longest <= 0)
            break;
        Box& box = boxes[pick];
        const int axis = longestAxis(box);
        // Whole colours as tie-break: the order, so the file, never depends on first sightings.
        std::sort(ids.begin() + box.begin, ids.begin() + box.end, [&](uint16_t x, uint16_t y) {
            const uint32_t cx = colours.colour(x), cy = colours.colour(y);
            const int vx = channel(cx, axis), vy = channel(cy, axis);
            return vx != vy ? vx < vy : cx < cy;
        });
        uint64_t seen = 0;
        int cut = box.lo[axis];
        for (int i = box.begin; i < box.end; ++i) {
            const uint16_t id = ids[static_cast<std::size_t>(i)];
            seen += colours.uses(id);
            if (2 * seen >= box.weight) {
                cut = channel(colours.colour(id), axis);
                break;
            }
        }
        const int margin = longest / 4;
        cut = std::clamp(cut, box.lo[axis] + margin, box.hi[axis] - 1 - margin);
        int mid = box.begin;
        while (channel(colours.colour(ids[static_cast<std::size_t>(mid)]), axis) <= cut)
            ++mid;
        Box upper{mid, box.end, {}, {}, 0};
        box.end = mid;
        bound(box, ids, colours);
        bound(upper, ids, colours);
        boxes.push_back(upper);
    }
    std::sort(boxes.begin(), boxes.end(),
              [](const Box& x, const Box& y) { return x.begin < y.begin; });
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        uint64_t sum[3] = {0, 0, 0};
        for (int i = boxes[b].begin; i < boxes[b].end; ++i) {
            const uint16_t id = ids[static_cast<std::size_t>(i)];
            for (int a = 0; a < 3; ++a)
                sum[a] += uint64_t(channel(colours.colour(id), a)) * colours.uses(id);
        }
        const uint64_t w = std::max<uint64_t>(boxes[b].weight, 1);
        auto mean = [&](int a) { return static_cast<GifByteType>((sum[a] + w / 2) / w); };
        palette[b] = GifColorType{mean(0), mean(1), mean(2)};
    }
    return static_cast<int>(boxes.size());
}

// Maps each counted colour to a palette index, or returns false when the
// page needs the quantiser's full path.
bool paletteFor(const PageColours& colours, std::vector<uint8_t>& toIndex,
                GifColorType palette[256], int& paletteSize) {
    const int n = colours.size();
    toIndex.resize(static_cast<std::size_t>(n));
    if (n <= 256) {
        // Sorted, so the file depends on the colours only, not on where they first appear.
        std::vector<uint16_t> order(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            order[static_cast<std::size_t>(i)] = static_cast<uint16_t>(i);
        std::sort(order.begin(), order.end(),
                  [&](uint16_t a, uint16_t b) { return colours.colour(a) < colours.colour(b); });
        for (int i = 0; i < n; ++i) {
            const int id = order[static_cast<std::size_t>(i)];
            const uint32_t c = colours.colour(id);
            toIndex[static_cast<std::size_t>(id)] = static_cast<uint8_t>(i);
            palette[i] =
                GifColorType{static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                             static_cast<GifByteType>(c)};
        }
        paletteSize = n > 0 ? n : 1;
        return true;
    }
    paletteSize = medianCut(colours, palette);
    // Nearest entry once per page colour; pixels then only look their colour up.
    for (int i = 0; i < n; ++i) {
        const uint32_t c = colours.colour(i);
        const int r = channel(c, 0), g = channel(c, 1), b = channel(c, 2);
        int best = 0, dist = 1 << 30;
        for (int p = 0; p < paletteSize && dist > 0; ++p) {
            const int dr = r - palette[p].Red, dg = g - palette[p].Green, db = b - palette[p].Blue;
            const int d = dr * dr + dg * dg + db * db;
            if (d < dist) {
                dist = d;
                best = p;
            }
        }
        if (dist > NearExact)
            return false;
        toIndex[static_cast<std::size_t>(i)] = static_cast<uint8_t>(best);
    }
    return true;
}

bool startQuantiser(Quantised& q) {
    q.attr = liq_attr_create();
    if (q.attr == nullptr)
        return false;
    liq_set_max_colors(q.attr, 256);
    liq_set_speed(q.attr, QuantiserSpeed);
    return true;
}

// The quantiser's palette as GIF colours; returns their number.
int paletteOf(liq_result* result, GifColorType palette[256]) {
    const liq_palette* pal = liq_get_palette(result);
    const int colours = static_cast<int>(pal->count);
    for (int i = 0; i < colours; ++i)
        palette[i] = GifColorType{pal->entries[i].r, pal->entries[i].g, pal->entries[i].b};
    return colours;
}

// The quantiser over an image held whole: libimagequant's own image path.
int quantiseWhole(OutFile& out, const px_image& img) {
    Quantised q;
    if (!startQuantiser(q))
        return ENOMEM;
    q.image = liq_image_create_custom(q.attr, rgbaRow, const_cast<px_image*>(&img), img.width,
                                      img.height, 0);
    if (q.image == nullptr)
        return ENOMEM;
    if (liq_image_quantize(q.image, q.attr, &q.result) != LIQ_OK)
        return ENOMEM;
    liq_set_dithering_level(q.result, 1.0f);
    std::vector<uint8_t> indices(static_cast<std::size_t>(img.width) *
                                 static_cast<std::size_t>(img.height));
    if (liq_write_remapped_image(q.result, q.image, indices.data(), indices.size()) != LIQ_OK)
        return ENOMEM;
    GifColorType palette[256] = {};
    const int colours = paletteOf(q.result, palette);
    return encode(out, img, palette, colours > 0 ? colours : 1, [&](int y) {
        return indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width);
    });
}

struct HistogramHandle {
    liq_histogram* histogram = nullptr;
    ~HistogramHandle() {
        if (histogram != nullptr)
            liq_histogram_destroy(histogram);
    }
};

// Copies rows [y, y + count) as RGBA into `rgba`.
void rgbaPiece(RowReader& rows, int width, int y, int count, std::vector<liq_color>& rgba) {
    rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t* src = rows.row(y + i);
        liq_color* dst =
            rgba.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x, src += 3)
            dst[x] = liq_color{src[0], src[1], src[2], 255};
    }
}

// The quantiser over an image in bands, which is never held whole: one pass over the rows
// builds the histogram, a second maps them a piece at a time (dithering starts afresh at
// each piece, which does not show at a piece's height).
int quantiseInBands(OutFile& out, const px_image& img) {
    Quantised q;
    HistogramHandle h;
    if (!startQuantiser(q))
        return ENOMEM;
    h.histogram = liq_histogram_create(q.attr);
    if (h.histogram == nullptr)
        return ENOMEM;
    RowReader rows(img, Tone::Colour);
    const int pieceRows = std::max(1, (8 << 20) / (4 * img.width));
    std::vector<liq_color> rgba;
    for (int y = 0; y < img.height && !rows.failed(); y += pieceRows) {
        const int count = std::min(pieceRows, img.height - y);
        rgbaPiece(rows, img.width, y, count, rgba);
        liq_image* piece = liq_image_create_rgba(q.attr, rgba.data(), img.width, count, 0);
        if (piece == nullptr)
            return ENOMEM;
        const liq_error added = liq_histogram_add_image(h.histogram, q.attr, piece);
        liq_image_destroy(piece);
        if (added != LIQ_OK)
            return ENOMEM;
    }
    if (rows.failed())
        return rows.error();
    if (liq_histogram_quantize(h.histogram, q.attr, &q.result) != LIQ_OK)
        return ENOMEM;
    liq_set_dithering_level(q.result, 1.0f);
    GifColorType palette[256] = {};
    const int colours = paletteOf(q.result, palette);

    std::vector<uint8_t> indices;
    int pieceFirst = 0, pieceCount = 0;
    int failure = 0;
    const int rc = encode(out, img, palette, colours > 0 ? colours : 1, [&](int y) {
        if (y >= pieceFirst + pieceCount && failure == 0) {
            pieceFirst = y;
            pieceCount = std::min(pieceRows, img.height - y);
            rgbaPiece(rows, img.width, pieceFirst, pieceCount, rgba);
            indices.resize(rgba.size());
            liq_image* piece = liq_image_create_rgba(q.attr, rgba.data(), img.width, pieceCount, 0);
            if (piece == nullptr ||
                liq_write_remapped_image(q.result, piece, indices.data(), indices.size()) != LIQ_OK)
                failure = ENOMEM;
            if (piece != nullptr)
                liq_image_destroy(piece);
            if (failure != 0)
                std::fill(indices.begin(), indices.end(), uint8_t{0});
        }
        return indices.data() +
               static_cast<std::size_t>(y - pieceFirst) * static_cast<std::size_t>(img.width);
    });
    if (rows.failed())
        return rows.error();
    return failure != 0 ? failure : rc;
}

// A measuring aid for bench/run.sh: PX_GIF_QUANTIZE_ALWAYS=1 sends every colour page
// through libimagequant, as all pages went before the exact-palette path, so the gain
// of that path can be timed against the same build.
bool quantiseAlways() {
    static const bool always = [] {
        const char* v = std::getenv("PX_GIF_QUANTIZE_ALWAYS");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    return always;
}

int writeColour(OutFile& out, const px_image& img) {
    if (!quantiseAlways()) {
        RowReader rows(img, Tone::Colour);
        PageColours colours;
        std::vector<uint8_t> toIndex;
        GifColorType palette[256] = {};
        int paletteSize = 0;
        const bool counted = colours.count(rows, img.width, img.height);
        if (rows.failed())
            return rows.error();
        if (counted && paletteFor(colours, toIndex, palette, paletteSize)) {
            std::vector<uint8_t> line(static_cast<std::size_t>(img.width));
            const int rc = encode(out, img, palette, paletteSize, [&](int y) {
                forEachRun(rows.row(y), img.width, [&](uint32_t key, int x, int length) {
                    const uint8_t index = toIndex[static_cast<std::size_t>(colours.id(key))];
                    std::memset(line.data() + x, index, static_cast<std::size_t>(length));
                });
                return line.data();
            });
            return rows.failed() ? rows.error() : rc;
        }
    }
    return img.samples != nullptr ? quantiseWhole(out, img) : quantiseInBands(out, img);
}

} // namespace

int writeGif(OutFile& out, const px_image& img, Tone tone) {
    if (tone == Tone::Colour && img.components == 3)
        return writeColour(out, img);
    return writeGrey(out, img);
}

} // namespace pxcodec
