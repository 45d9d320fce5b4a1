// Entry points of the companion library: argument checks, choice of the pixel
// layout, dispatch to the writer of the format. No exception leaves here.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>
#include <unistd.h>

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
    if (img == nullptr || img->width <= 0 || img->height <= 0)
        return false;
    if (img->components != 1 && img->components != 3)
        return false;
    if (img->samples == nullptr)
        return img->bands != nullptr && img->bands->fetch != nullptr;
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

// Uncompressed bytes of one image's samples as the format stores them.
uint64_t storedBytes(Format format, const px_options& opt, int components, int width, int height) {
    px_image probe{};
    probe.components = components;
    const Tone tone = format == Format::Tiff ? tiffTone(components, opt) : toneOf(probe, opt);
    const auto w = static_cast<uint64_t>(width);
    const uint64_t row = tone == Tone::Bilevel ? (w + 7) / 8 : w * channelsOf(tone);
    return row * static_cast<uint64_t>(height);
}

// `components` of the image the writer is given (the public check assumes RGB).
int checkSize(Format format, const px_options& opt, int components, int width, int height) {
    if (width <= 0 || height <= 0)
        return EINVAL;
    switch (format) {
    case Format::Jpeg:
        return width > 65500 || height > 65500 ? EFBIG : 0;
    case Format::Gif:
    case Format::Tga:
        return width > 65535 || height > 65535 ? EFBIG : 0;
    case Format::Pcx:
        // Coordinates and the even bytes-per-line count are 16-bit fields.
        return width > 65534 || height > 65536 ? EFBIG : 0;
    case Format::Bmp: {
        // Rows padded to four bytes; the whole file's size is a 32-bit field.
        const uint64_t row = (storedBytes(format, opt, components, width, 1) + 3) & ~uint64_t{3};
        return 14 + 40 + 1024 + row * static_cast<uint64_t>(height) > 0xFFFFFFFFu ? EFBIG : 0;
    }
    case Format::Png:
    case Format::Tiff:
        return 0; // 31- and 32-bit sides; BigTIFF past 4 GiB
    case Format::Unknown:
        break;
    }
    return EINVAL;
}

bool needsBigTiff(uint64_t stored) {
    // LZW may grow data by half; the directory and strip tables need room too.
    return stored + stored / 2 + (uint64_t{16} << 20) > 0xFFFFFFFFu;
}

// Where an image goes: a descriptor handed over (fd >= 0), else a path to create.
struct Destination {
    const char* path;
    int fd;
};

int writeSingleTiff(Destination to, const px_image& img, const px_options& opt) {
    px_options o = opt;
    if (needsBigTiff(storedBytes(Format::Tiff, opt, img.components, img.width, img.height)))
        o.big_tiff = 1;
    px_tiff_writer* w = nullptr;
    int err = tiffOpen(to.path, to.fd, o, &w);
    if (err != 0)
        return err;
    err = tiffAddPage(w, img);
    if (err != 0) {
        tiffDiscard(w);
        return err;
    }
    return tiffClose(w);
}

int writeImage(Destination to, Format format, const px_image& img, const px_options& opt) {
    // Refused before the file exists: the writers rely on the image fitting their fields.
    if (const int rc = checkSize(format, opt, img.components, img.width, img.height)) {
        if (to.fd >= 0)
            ::close(to.fd);
        return rc;
    }
    if (format == Format::Tiff)
        return writeSingleTiff(to, img, opt);
    OutFile out;
    int err = 0;
    if (to.fd >= 0)
        out.adopt(to.fd);
    else
        err = out.open(to.path, opt.exclusive != 0);
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

namespace {

int writeTo(Destination to, const char* ext, const px_image* img, const px_options* opt) {
    const Format format = ext != nullptr ? formatOf(ext) : Format::Unknown;
    if (format == Format::Unknown || !validImage(img) || !validOptions(opt)) {
        if (to.fd >= 0)
            ::close(to.fd);
        return EINVAL;
    }
    try {
        return writeImage(to, format, *img, *opt);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

int openTiff(Destination to, const px_options* opt, px_tiff_writer** out) {
    if (out != nullptr)
        *out = nullptr;
    if (out == nullptr || !validOptions(opt)) {
        if (to.fd >= 0)
            ::close(to.fd);
        return EINVAL;
    }
    try {
        return tiffOpen(to.path, to.fd, *opt, out);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

} // namespace

int px_write_image(const char* path, const char* ext, const px_image* img, const px_options* opt) {
    if (path == nullptr)
        return EINVAL;
    return writeTo({path, -1}, ext, img, opt);
}

int px_write_image_fd(int fd, const char* ext, const px_image* img, const px_options* opt) {
    if (fd < 0)
        return EBADF;
    return writeTo({nullptr, fd}, ext, img, opt);
}

int px_check_size(const char* ext, const px_options* opt, int width, int height) {
    if (ext == nullptr || !validOptions(opt))
        return EINVAL;
    return checkSize(formatOf(ext), *opt, 3, width, height);
}

unsigned long long px_stored_bytes(const char* ext, const px_options* opt, int width, int height) {
    if (ext == nullptr || !validOptions(opt) || width <= 0 || height <= 0)
        return 0;
    const Format format = formatOf(ext);
    return format == Format::Unknown ? 0 : storedBytes(format, *opt, 3, width, height);
}

int px_band_passes(const char* ext, const px_options* opt) {
    if (ext == nullptr || !validOptions(opt))
        return 0;
    const Format format = formatOf(ext);
    if (format == Format::Unknown)
        return 0;
    px_image rgb{};
    rgb.components = 3;
    return format == Format::Gif && toneOf(rgb, *opt) == Tone::Colour ? 2 : 1;
}

int px_tiff_needs_big(unsigned long long stored_bytes) {
    return needsBigTiff(stored_bytes) ? 1 : 0;
}

int px_tiff_open(const char* path, const px_options* opt, px_tiff_writer** out) {
    if (path == nullptr) {
        if (out != nullptr)
            *out = nullptr;
        return EINVAL;
    }
    return openTiff({path, -1}, opt, out);
}

int px_tiff_open_fd(int fd, const px_options* opt, px_tiff_writer** out) {
    if (fd < 0) {
        if (out != nullptr)
            *out = nullptr;
        return EBADF;
    }
    return openTiff({nullptr, fd}, opt, out);
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
