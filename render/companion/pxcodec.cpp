// Entry points of the companion library: argument checks, choice of the pixel
// layout, dispatch to the writer of the format. No exception leaves here.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

namespace pxcodec {

namespace {

enum class Format { Jpeg, Bmp, Png, Gif, Tiff, Pcx, Tga, Unknown };

Format formatOf(const char* ext) {
    struct Entry {
        const char* name;
        Format format;
    };
    static const Entry table[] = {
        {"jpg", Format::Jpeg}, {"jpeg", Format::Jpeg}, {"bmp", Format::Bmp},
        {"png", Format::Png},  {"gif", Format::Gif},   {"tiff", Format::Tiff},
        {"tif", Format::Tiff}, {"pcx", Format::Pcx},   {"tga", Format::Tga}};
    for (const Entry& e : table)
        if (strcasecmp(ext, e.name) == 0)
            return e.format;
    return Format::Unknown;
}

bool validImage(const px_image* img) {
    if (img == nullptr || img->samples == nullptr || img->width <= 0 || img->height <= 0)
        return false;
    if (img->components != 1 && img->components != 3)
        return false;
    const auto minStride = static_cast<ptrdiff_t>(img->width) * img->components;
    return std::llabs(img->stride) >= minStride;
}

bool validOptions(const px_options* opt) {
    return opt != nullptr &&
           (opt->bits_per_pixel == 24 || opt->bits_per_pixel == 8 || opt->bits_per_pixel == 1);
}

// Formats other than TIFF have no 1-bit output here: they get grey instead.
Tone toneOf(const px_image& img, const px_options& opt) {
    if (opt.grayscale || opt.bits_per_pixel != 24 || img.components == 1)
        return Tone::Grey;
    return Tone::Colour;
}

int writeSingleTiff(const char* path, const px_image& img, const px_options& opt) {
    px_tiff_writer* w = nullptr;
    int err = tiffOpen(path, opt, &w);
    if (err != 0)
        return err;
    err = tiffAddPage(w, img);
    if (err != 0) {
        tiffDiscard(w);
        return err;
    }
    return tiffClose(w);
}

int writeImage(const char* path, Format format, const px_image& img, const px_options& opt) {
    if (format == Format::Tiff)
        return writeSingleTiff(path, img, opt);
    OutFile out;
    int err = out.open(path, opt.exclusive != 0);
    if (err != 0)
        return err;
    const Tone tone = toneOf(img, opt);
    switch (format) {
    case Format::Jpeg:
        err = writeJpeg(out, img, tone, opt.jpeg_quality);
        break;
    case Format::Bmp:
        err = writeBmp(out, img, tone);
        break;
    case Format::Png:
        err = writePng(out, img, tone);
        break;
    case Format::Gif:
        err = writeGif(out, img, tone);
        break;
    case Format::Pcx:
        err = writePcx(out, img, tone);
        break;
    case Format::Tga:
        err = writeTga(out, img, tone);
        break;
    default:
        err = EINVAL;
        break;
    }
    if (err == 0)
        err = out.close();
    if (err != 0)
        out.discard();
    return err;
}

} // namespace

} // namespace pxcodec

using namespace pxcodec;

extern "C" {

int px_write_image(const char* path, const char* ext, const px_image* img, const px_options* opt) {
    if (path == nullptr || ext == nullptr || !validImage(img) || !validOptions(opt))
        return EINVAL;
    const Format format = formatOf(ext);
    if (format == Format::Unknown)
        return EINVAL;
    try {
        return writeImage(path, format, *img, *opt);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

int px_tiff_open(const char* path, const px_options* opt, px_tiff_writer** out) {
    if (out != nullptr)
        *out = nullptr;
    if (path == nullptr || out == nullptr || !validOptions(opt))
        return EINVAL;
    try {
        return tiffOpen(path, *opt, out);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

int px_tiff_add_page(px_tiff_writer* w, const px_image* img) {
    if (w == nullptr || !validImage(img))
        return EINVAL;
    try {
        return tiffAddPage(w, *img);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

int px_tiff_close(px_tiff_writer* w) {
    if (w == nullptr)
        return EINVAL;
    return tiffClose(w);
}

void px_tiff_abort(px_tiff_writer* w) {
    if (w != nullptr)
        tiffDiscard(w);
}

} // extern "C"
