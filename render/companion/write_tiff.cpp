// TIFF through libtiff, single or multi-page, on our own descriptor so the
// errno of a failed write (a full disk above all) reaches the caller.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

struct px_tiff_writer {
    int fd = -1;
    int ioError = 0;   // first errno of a failed read, write or seek
    int tiffError = 0; // errno that fits the first libtiff error message
    TIFF* tif = nullptr;
    px_options opt{};
    int pages = 0;
    std::string path;
};

namespace pxcodec {

namespace {

void silenceGlobalHandlers() {
    // Messages that libtiff emits without a handle go through the process-wide
    // handlers, which print to stderr; a library must stay silent.
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

int recordError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* w = static_cast<px_tiff_writer*>(user);
    if (w->tiffError == 0) {
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, ap);
        // Classic TIFF stops at 4 GiB: a file that would outgrow it is too big.
        w->tiffError =
            std::strstr(text, "Maximum TIFF file size exceeded") != nullptr ? EFBIG : EIO;
    }
    return 1; // handled: keeps the global handlers out of it
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

tmsize_t readProc(thandle_t h, void* buf, tmsize_t size) {
    auto* w = static_cast<px_tiff_writer*>(h);
    ssize_t n;
    do {
        n = ::read(w->fd, buf, static_cast<std::size_t>(size));
    } while (n < 0 && errno == EINTR);
    return n;
}

tmsize_t writeProc(thandle_t h, void* buf, tmsize_t size) {
    auto* w = static_cast<px_tiff_writer*>(h);
    const auto* p = static_cast<const uint8_t*>(buf);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(w->fd, p + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (w->ioError == 0)
                w->ioError = n == 0 ? ENOSPC : errno;
            return -1;
        }
        done += n;
    }
    return done;
}

toff_t seekProc(thandle_t h, toff_t off, int whence) {
    auto* w = static_cast<px_tiff_writer*>(h);
    const off_t pos = ::lseek(w->fd, static_cast<off_t>(off), whence);
    if (pos < 0 && w->ioError == 0)
        w->ioError = errno;
    return static_cast<toff_t>(pos);
}

int closeProc(thandle_t) {
    return 0;
} // the descriptor is closed by us, with a check

toff_t sizeProc(thandle_t h) {
    auto* w = static_cast<px_tiff_writer*>(h);
    struct stat st {};
    return ::fstat(w->fd, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

int firstError(const px_tiff_writer* w) {
    if (w->ioError != 0)
        return w->ioError;
    return w->tiffError != 0 ? w->tiffError : EIO;
}

bool validCompression(int c) {
    switch (c) {
    case COMPRESSION_NONE:
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_LZW:
    case COMPRESSION_JPEG:
    case COMPRESSION_PACKBITS:
        return true;
    default:
        return false;
    }
}

bool isFax(int c) {
    return c == COMPRESSION_CCITTRLE || c == COMPRESSION_CCITTFAX3 || c == COMPRESSION_CCITTFAX4;
}

// The layout a page gets: fax compressions only know black and white, JPEG
// knows no 1-bit data, and grey or 1-bit requests never give colour.
} // namespace

Tone tiffTone(int components, const px_options& opt) {
    const int c = opt.tiff_compression;
    if (isFax(c))
        return Tone::Bilevel;
    if (opt.bits_per_pixel == 1)
        return c == COMPRESSION_JPEG ? Tone::Grey : Tone::Bilevel;
    if (opt.grayscale || opt.bits_per_pixel == 8 || components == 1)
        return Tone::Grey;
    return Tone::Colour;
}

namespace {

void setFields(TIFF* tif, const px_image& img, Tone tone, const px_options& opt, int page) {
    const int c = opt.tiff_compression;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(img.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(img.height));
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(page), static_cast<uint16_t>(0));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, tone == Tone::Bilevel ? 1 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channelsOf(tone));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, c);
    switch (tone) {
    case Tone::Bilevel:
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        break;
    case Tone::Grey:
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        break;
    case Tone::Colour:
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     c == COMPRESSION_JPEG ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
        break;
    }
    if (c == COMPRESSION_LZW && tone != Tone::Bilevel)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (c == COMPRESSION_JPEG) {
        const int q = opt.jpeg_quality < 1 ? 1 : (opt.jpeg_quality > 100 ? 100 : opt.jpeg_quality);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, q);
        if (tone == Tone::Colour)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB); // libtiff converts
    }
    if (img.xdpi > 0 && img.ydpi > 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(img.xdpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(img.ydpi));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    // Strips of roughly 256 KiB: few enough to keep the directory small, small
    // enough for readers that load a strip at a time. Codecs round as they need.
    const std::size_t rowBytes = tone == Tone::Bilevel
                                     ? (static_cast<std::size_t>(img.width) + 7) / 8
                                     : static_cast<std::size_t>(img.width) * channelsOf(tone);
    std::size_t wanted = 256 * 1024 / (rowBytes > 0 ? rowBytes : 1);
    wanted = wanted < 1 ? 1 : (wanted > std::size_t(img.height) ? std::size_t(img.height) : wanted);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 TIFFDefaultStripSize(tif, static_cast<uint32_t>(wanted)));
}

} // namespace

void tiffDiscard(px_tiff_writer* w) {
    if (w->tif != nullptr)
        TIFFCleanup(w->tif); // frees without writing a half-made directory
    if (w->fd >= 0) {
        // Only a regular file is ours to remove: the path may name a device.
        struct stat st {};
        const bool regular = ::fstat(w->fd, &st) == 0 && S_ISREG(st.st_mode);
        ::close(w->fd);
        if (regular && !w->path.empty())
            ::unlink(w->path.c_str());
    }
    delete w;
}

int tiffOpen(const char* path, int fd, const px_options& opt, px_tiff_writer** out) {
    silenceGlobalHandlers();
    px_options o = opt;
    if (o.tiff_compression == 0)
        o.tiff_compression = COMPRESSION_NONE;
    if (!validCompression(o.tiff_compression)) {
        if (fd >= 0)
            ::close(fd);
        return EINVAL;
    }
    auto* w = new px_tiff_writer;
    w->opt = o;
    if (fd >= 0) {
        w->fd = fd;
    } else {
        w->path = path;
        const int how = o.exclusive ? O_CREAT | O_EXCL | O_NOFOLLOW : O_CREAT | O_TRUNC;
        w->fd = ::open(path, O_RDWR | how | O_CLOEXEC, 0666);
    }
    if (w->fd < 0) {
        const int err = errno;
        delete w;
        return err;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        tiffDiscard(w);
        return ENOMEM;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, recordError, w);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, w);
    w->tif =
        TIFFClientOpenExt(w->path.empty() ? "image" : path, o.big_tiff ? "w8m" : "wm", w, readProc,
                          writeProc, seekProc, closeProc, sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (w->tif == nullptr) {
        const int err = firstError(w);
        tiffDiscard(w);
        return err;
    }
    *out = w;
    return 0;
}

int tiffAddPage(px_tiff_writer* w, const px_image& img) {
    // After a failure the file is beyond repair: every later call reports it.
    if (w->ioError != 0 || w->tiffError != 0)
        return firstError(w);
    const Tone tone = tiffTone(img.components, w->opt);
    setFields(w->tif, img, tone, w->opt, w->pages);
    RowReader rows(img, tone);
    // libtiff may encode in place (the predictor does), so it gets a copy.
    std::vector<uint8_t> line(rows.rowBytes());
    for (int y = 0; y < img.height; ++y) {
        std::memcpy(line.data(), rows.row(y), line.size());
        if (rows.failed()) {
            w->tiffError = rows.error(); // the page is incomplete: so is the file
            return rows.error();
        }
        if (TIFFWriteScanline(w->tif, line.data(), static_cast<uint32_t>(y), 0) < 0)
            return firstError(w);
    }
    if (!TIFFWriteDirectory(w->tif))
        return firstError(w);
    ++w->pages;
    return 0;
}

int tiffClose(px_tiff_writer* w) {
    int err = w->ioError != 0 || w->tiffError != 0 ? firstError(w) : 0;
    if (err == 0 && w->pages == 0)
        err = EINVAL; // a TIFF without a page is no image at all
    if (err != 0) {
        tiffDiscard(w);
        return err;
    }
    TIFFClose(w->tif);
    w->tif = nullptr;
    if (w->ioError != 0 || w->tiffError != 0)
        err = firstError(w);
    if (err != 0) {
        tiffDiscard(w);
        return err;
    }
    const int rc = ::close(w->fd);
    err = rc != 0 ? errno : 0;
    w->fd = -1; // closed even when close() failed: never close it twice
    struct stat st {};
    if (err != 0 && !w->path.empty() && ::stat(w->path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::unlink(w->path.c_str());
    delete w;
    return err;
}

} // namespace pxcodec
