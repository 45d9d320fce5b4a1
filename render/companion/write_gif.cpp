// GIF through giflib; colour pages go through libimagequant's 256-colour
// quantiser first, grey pages use a plain 256-entry grey palette.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstring>

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

int encode(OutFile& out, const px_image& img, const GifColorType* palette, int colours,
           const std::vector<uint8_t>* indices, RowReader* greyRows) {
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
        const uint8_t* src = indices != nullptr
                                 ? indices->data() + static_cast<std::size_t>(y) * line.size()
                                 : greyRows->row(y);
        std::memcpy(line.data(), src, line.size());
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
    return encode(out, img, palette, 256, nullptr, &rows);
}

int writeColour(OutFile& out, const px_image& img) {
    Quantised q;
    q.attr = liq_attr_create();
    if (q.attr == nullptr)
        return ENOMEM;
    liq_set_max_colors(q.attr, 256);
    liq_set_speed(q.attr, QuantiserSpeed);
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
    const liq_palette* pal = liq_get_palette(q.result);
    GifColorType palette[256] = {};
    const int colours = static_cast<int>(pal->count);
    for (int i = 0; i < colours; ++i)
        palette[i] = GifColorType{pal->entries[i].r, pal->entries[i].g, pal->entries[i].b};
    return encode(out, img, palette, colours > 0 ? colours : 1, &indices, nullptr);
}

} // namespace

int writeGif(OutFile& out, const px_image& img, Tone tone) {
    if (img.width > 65535 || img.height > 65535)
        return EFBIG;
    if (tone == Tone::Colour && img.components == 3)
        return writeColour(out, img);
    return writeGrey(out, img);
}

} // namespace pxcodec
