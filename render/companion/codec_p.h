// Internal pieces shared by the image writers of the companion library.
#pragma once

#include "render/companion/pxcodec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pxcodec {

// The pixel layout a file receives: 8-bit RGB, 8-bit grey, or 1 bit per pixel
// packed MSB first with 1 meaning black (the fax convention).
enum class Tone { Colour, Grey, Bilevel };

int channelsOf(Tone tone);

// Hands out the rows of an image converted to the tone a writer asked for.
// The pointer stays valid until the next call; rows already in the right
// layout are returned in place without copying.
// Rows of an image handed out in bands are fetched as the writer reaches them, in either
// direction; when a band fails, white rows follow, failed() is true and the writer stops.
class RowReader {
public:
    RowReader(const px_image& img, Tone tone);
    const uint8_t* row(int y);
    std::size_t rowBytes() const { return m_rowBytes; }
    Tone tone() const { return m_tone; }
    bool failed() const { return m_error != 0; }
    // Rows stay valid for the writer's whole run: a whole image needing no conversion.
    bool stable() const { return m_img.samples != nullptr && m_scratch.empty(); }
    int error() const { return m_error; }

private:
    const uint8_t* source(int y);

    const px_image& m_img;
    Tone m_tone;
    std::size_t m_rowBytes;
    std::vector<uint8_t> m_scratch;
    // The band at hand, for images in bands.
    const uint8_t* m_band = nullptr;
    std::ptrdiff_t m_bandStride = 0;
    int m_bandFirst = 0, m_bandCount = 0;
    int m_error = 0;
    std::vector<uint8_t> m_blank;
};

// The layout a TIFF page gets for these options from a source of `components` channels.
Tone tiffTone(int components, const px_options& opt);

// Buffered writer on a file descriptor that keeps the first errno it meets,
// so every writer checks for a full disk or an I/O error in one place.
class OutFile {
public:
    OutFile() = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile();

    int open(const char* path, bool exclusive); // 0 or errno
    void adopt(int fd);                         // writes into fd, closes it; removes nothing
    void write(const void* data, std::size_t size);
    void put8(unsigned v);
    void put16le(unsigned v);
    void put32le(uint32_t v);
    void put32be(uint32_t v);
    int close();    // flushes and closes; 0 or the first errno met
    void discard(); // closes and removes the partial file (regular files only)
    int error() const { return m_error; }
    void fail(int err);

private:
    void flush();

    int m_fd = -1;
    int m_error = 0;
    const char* m_path = nullptr;
    std::vector<uint8_t> m_buffer;
};

// Every writer gets an open file and returns 0 or an errno value; the caller
// closes or discards the file.
int writeJpeg(OutFile& out, const px_image& img, Tone tone, int quality);
int writePng(OutFile& out, const px_image& img, Tone tone);
int writeGif(OutFile& out, const px_image& img, Tone tone);
int writeBmp(OutFile& out, const px_image& img, Tone tone);
int writePcx(OutFile& out, const px_image& img, Tone tone);
int writeTga(OutFile& out, const px_image& img, Tone tone);

// TIFF writing behind the px_tiff_* functions.
// fd < 0: opens `path`; otherwise takes over fd (open for reading and writing), names nothing.
int tiffOpen(const char* path, int fd, const px_options& opt, px_tiff_writer** out);
int tiffAddPage(px_tiff_writer* w, const px_image& img);
int tiffClose(px_tiff_writer* w);
void tiffDiscard(px_tiff_writer* w);

} // namespace pxcodec
