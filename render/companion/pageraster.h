// One page drawn for a writer: whole when its bitmap is modest, else in horizontal bands that
// the writer pulls as it goes, so memory stays bounded however large the page is. Always RGB:
// grey and black-and-white files are made from it row by row as the writer goes, so they look
// like the colour rendering whatever colour spaces the page used.
#pragma once

#include "render/companion/pxcodec.h"
#include "render/companion/rawbuffer.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cstddef>
#include <functional>
#include <vector>

namespace pxraster {

struct RasterSettings {
    float xScale = 1, yScale = 1;
    int xDpi = 72, yDpi = 72;
    size_t wholeBytes = 0; // pages whose RGB bitmap is at most this are drawn whole
    size_t bandBytes = 0;  // larger ones in bands of about this many bytes of RGB
    int bandPasses = 1;    // how often the writer usually reads the bands (px_band_passes)
};

// The area a page covers at the settings' scale, in pixels before rounding. MuPDF clamps
// rounded coordinates to 2^24, so only this tells how large a huge page really is.
fz_rect pageArea(fz_rect bounds, const RasterSettings& settings);

// True for an area past 2^31 pixels on a side or 2^36 pixels in all (206 GB as RGB): no
// program could open such an image, and drawing it band by band would take days.
bool beyondAnyUse(fz_rect area);

class PageRaster {
public:
    // `stopped` is asked between bands; `bandDone` is told after each band how many of how many
    // band drawings are done, counting every pass of the writer: the first count only grows
    // (it stays at the second when a writer reads the bands more often than usual). The bitmap
    // is drawn into `buffer`, which the caller keeps from page to page.
    using BandDone = std::function<void(int bandsDone, int bandCount)>;
    PageRaster(fz_context* ctx, const RasterSettings& settings, pxcodec::RawBuffer& buffer,
               std::function<bool()> stopped, BandDone bandDone);
    ~PageRaster();
    PageRaster(const PageRaster&) = delete;
    PageRaster& operator=(const PageRaster&) = delete;

    // Loads the page and measures it. Returns 0 or an errno value (EINVAL for an empty page,
    // EFBIG for one beyond any use).
    int load(pdf_document* doc, int pageNumber);
    int width() const { return m_box.x1 - m_box.x0; }
    int height() const { return m_box.y1 - m_box.y0; }
    bool banded() const { return m_bandRows > 0; }
    // Bytes drawing the page holds at once, its writer's buffers included.
    size_t memoryBytes() const;

    // Whole pages are drawn here; pages in bands get their display list, and each band is
    // drawn when the writer reaches it. Returns 0 or an errno value: ENOMEM also when MuPDF
    // got over a failed allocation by leaving something out.
    int draw();
    // The image for the writer; valid while this object lives.
    px_image image(int xDpi, int yDpi) const;
    // A band's failure, which the writer then reports too.
    int bandError() const { return m_bandError; }

private:
    static int fetch(void* opaque, int y, const unsigned char** samples, ptrdiff_t* stride,
                     int* first, int* count);
    int drawBand(int band);
    // Draws into `pix` (already placed and sized): the display list when there is one.
    void run(fz_pixmap* pix);
    // The errno for what MuPDF returned, ENOMEM when an allocation of this page failed.
    int outcome(int code) const;

    fz_context* m_ctx;
    RasterSettings m_settings;
    std::function<bool()> m_stopped;
    BandDone m_bandDone;
    fz_page* m_page = nullptr;
    fz_display_list* m_list = nullptr;
    fz_irect m_box{};
    fz_matrix m_ctm{};
    fz_pixmap* m_whole = nullptr;
    int m_bandRows = 0;     // 0: drawn whole
    int m_band = -1;        // the band in m_buffer
    int m_bandDrawings = 0; // bands times the writer's usual passes
    int m_bandsDrawn = 0;
    pxcodec::RawBuffer& m_buffer;
    px_bands m_bands{};
    int m_bandError = 0;
    unsigned long m_failedBefore = 0; // failed allocations of the thread before this page
};

} // namespace pxraster
