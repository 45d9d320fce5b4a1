#include "render/companion/pageraster.h"

#include "render/companion/allocwatch.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>

namespace pxraster {

namespace {

int errnoForMuPdf(int code) {
    return code == FZ_ERROR_MEMORY ? ENOMEM : EINVAL;
}

// Widest row a band may hold: the pixmap's stride is an int.
constexpr long long kMaxRowBytes = INT_MAX / 4;

constexpr double kMaxSide = 2147483648.0;    // 2^31 pixels
constexpr double kMaxPixels = 68719476736.0; // 2^36 pixels

} // namespace

fz_rect pageArea(fz_rect bounds, const RasterSettings& settings) {
    return fz_transform_rect(bounds, fz_scale(settings.xScale, settings.yScale));
}

bool beyondAnyUse(fz_rect area) {
    const double w = static_cast<double>(area.x1) - area.x0;
    const double h = static_cast<double>(area.y1) - area.y0;
    return w > kMaxSide || h > kMaxSide || (w > 0 && h > 0 && w * h > kMaxPixels);
}

PageRaster::PageRaster(fz_context* ctx, const RasterSettings& settings, pxcodec::RawBuffer& buffer,
                       std::function<bool()> stopped, BandDone bandDone)
    : m_ctx(ctx), m_settings(settings), m_stopped(std::move(stopped)),
      m_bandDone(std::move(bandDone)), m_buffer(buffer) {
    m_bands.fetch = fetch;
    m_bands.opaque = this;
}

PageRaster::~PageRaster() {
    fz_drop_pixmap(m_ctx, m_whole);
    fz_drop_display_list(m_ctx, m_list);
    fz_drop_page(m_ctx, m_page);
}

int PageRaster::outcome(int code) const {
    if (failedAllocations() != m_failedBefore)
        return ENOMEM;
    return code == FZ_ERROR_NONE ? 0 : errnoForMuPdf(code);
}

int PageRaster::load(pdf_document* doc, int pageNumber) {
    m_failedBefore = failedAllocations();
    int code = FZ_ERROR_NONE;
    fz_rect area = fz_empty_rect;
    fz_var(code);
    fz_var(area);
    fz_try(m_ctx) {
        m_page = fz_load_page(m_ctx, &doc->super, pageNumber - 1);
        area = pageArea(fz_bound_page(m_ctx, m_page), m_settings);
        m_box = fz_round_rect(area);
    }
    fz_catch(m_ctx) {
        code = fz_caught(m_ctx);
    }
    if (const int rc = outcome(code))
        return rc;
    if (beyondAnyUse(area))
        return EFBIG;
    const long long w = static_cast<long long>(m_box.x1) - m_box.x0;
    const long long h = static_cast<long long>(m_box.y1) - m_box.y0;
    if (w <= 0 || h <= 0)
        return EINVAL;
    if (w * 3 > kMaxRowBytes || h > INT_MAX)
        return EFBIG;
    const auto rowBytes = static_cast<size_t>(w) * 3;
    if (rowBytes * static_cast<size_t>(h) > m_settings.wholeBytes) {
        m_bandRows = static_cast<int>(
            std::clamp<size_t>(m_settings.bandBytes / rowBytes, 1, static_cast<size_t>(h)));
        const long long bands = (h + m_bandRows - 1) / m_bandRows;
        m_bandDrawings = static_cast<int>(
            std::min<long long>(bands * std::max(1, m_settings.bandPasses), INT_MAX));
    }
    m_ctm = fz_scale(m_settings.xScale, m_settings.yScale);
    return 0;
}

size_t PageRaster::memoryBytes() const {
    const size_t rowBytes = static_cast<size_t>(width()) * 3;
    const size_t rows = banded() ? static_cast<size_t>(m_bandRows) : static_cast<size_t>(height());
    // The bitmap and what a writer may keep beside it (a PNG's compressed page, grey rows).
    return rows * rowBytes * 2;
}

void PageRaster::run(fz_pixmap* pix) {
    fz_device* dev = nullptr;
    fz_var(dev);
    fz_try(m_ctx) {
        fz_clear_pixmap_with_value(m_ctx, pix, 255);
        dev = fz_new_draw_device(m_ctx, fz_identity, pix);
        fz_try(m_ctx) {
            if (m_list)
                fz_run_display_list(m_ctx, m_list, dev, m_ctm,
                                    fz_rect_from_irect(fz_pixmap_bbox(m_ctx, pix)), nullptr);
            else
                fz_run_page(m_ctx, m_page, dev, m_ctm, nullptr);
            fz_close_device(m_ctx, dev);
        }
        fz_catch(m_ctx) {
            // Content that fails part-way keeps what was drawn, as in other viewers.
            if (fz_caught(m_ctx) == FZ_ERROR_MEMORY || fz_caught(m_ctx) == FZ_ERROR_ABORT)
                fz_rethrow(m_ctx);
        }
    }
    fz_always(m_ctx) {
        fz_drop_device(m_ctx, dev);
    }
    fz_catch(m_ctx) {
        fz_rethrow(m_ctx);
    }
}

int PageRaster::draw() {
    // Each row of a whole page gets a spare byte before it: a PNG writer puts its filter byte
    // there and compresses the page where it lies.
    const int stride = width() * 3 + 1;
    if (!banded()) {
        try {
            m_buffer.grow(static_cast<size_t>(stride) * static_cast<size_t>(height()) + 1);
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
    }
    int code = FZ_ERROR_NONE;
    fz_var(code);
    fz_try(m_ctx) {
        if (banded()) {
            // Recorded once, drawn once per band: the content is parsed a single time.
            m_list = fz_new_display_list_from_page(m_ctx, m_page);
        } else {
            m_whole = fz_new_pixmap_with_data(m_ctx, fz_device_rgb(m_ctx), width(), height(),
                                              nullptr, 0, stride, m_buffer.data() + 1);
            m_whole->x = m_box.x0;
            m_whole->y = m_box.y0;
            fz_set_pixmap_resolution(m_ctx, m_whole, m_settings.xDpi, m_settings.yDpi);
            run(m_whole);
        }
    }
    fz_catch(m_ctx) {
        code = fz_caught(m_ctx);
    }
    return outcome(code);
}

int PageRaster::drawBand(int band) {
    const int top = m_box.y0 + band * m_bandRows;
    const int rows = std::min(m_bandRows, m_box.y1 - top);
    const auto w = static_cast<size_t>(width());
    try {
        m_buffer.grow(w * 3 * static_cast<size_t>(m_bandRows));
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    fz_pixmap* pix = nullptr;
    int code = FZ_ERROR_NONE;
    fz_var(pix);
    fz_var(code);
    fz_try(m_ctx) {
        const fz_irect area{m_box.x0, top, m_box.x1, top + rows};
        pix = fz_new_pixmap_with_bbox_and_data(m_ctx, fz_device_rgb(m_ctx), area, nullptr, 0,
                                               m_buffer.data());
        run(pix);
    }
    fz_always(m_ctx) {
        fz_drop_pixmap(m_ctx, pix);
    }
    fz_catch(m_ctx) {
        code = fz_caught(m_ctx);
    }
    if (const int rc = outcome(code))
        return rc;
    m_band = band;
    m_bandsDrawn = std::min(m_bandsDrawn + 1, m_bandDrawings);
    if (m_bandDone)
        m_bandDone(m_bandsDrawn, m_bandDrawings);
    return 0;
}

int PageRaster::fetch(void* opaque, int y, const unsigned char** samples, ptrdiff_t* stride,
                      int* first, int* count) {
    auto* self = static_cast<PageRaster*>(opaque);
    if (self->m_bandError != 0)
        return self->m_bandError;
    const int band = y / self->m_bandRows;
    if (band != self->m_band) {
        if (self->m_stopped && self->m_stopped())
            self->m_bandError = ECANCELED;
        else
            self->m_bandError = self->drawBand(band);
        if (self->m_bandError != 0)
            return self->m_bandError;
    }
    *samples = self->m_buffer.data();
    *stride = static_cast<ptrdiff_t>(self->width()) * 3;
    *first = band * self->m_bandRows;
    *count = std::min(self->m_bandRows, self->height() - *first);
    return 0;
}

px_image PageRaster::image(int xDpi, int yDpi) const {
    px_image img{};
    img.width = width();
    img.height = height();
    img.xdpi = xDpi;
    img.ydpi = yDpi;
    img.components = 3;
    if (m_whole) {
        img.stride = fz_pixmap_stride(m_ctx, m_whole);
        img.samples = fz_pixmap_samples(m_ctx, m_whole);
        img.row_slack = 1;
    } else {
        img.stride = static_cast<ptrdiff_t>(width()) * 3;
        img.bands = &m_bands;
    }
    return img;
}

} // namespace pxraster
