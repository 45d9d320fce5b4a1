// JPEG through libjpeg-turbo, with errors recorded instead of printed.
#include "render/companion/codec_p.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace pxcodec {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

struct Destination {
    jpeg_destination_mgr base;
    OutFile* out;
    JOCTET buffer[ChunkSize];
};

void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void silentMessage(j_common_ptr, int) {}
void silentOutput(j_common_ptr) {}

void initDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->base.next_output_byte = dest->buffer;
    dest->base.free_in_buffer = ChunkSize;
}

boolean emptyBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->out->write(dest->buffer, ChunkSize);
    dest->base.next_output_byte = dest->buffer;
    dest->base.free_in_buffer = ChunkSize;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->out->write(dest->buffer, ChunkSize - dest->base.free_in_buffer);
}

unsigned density(int dpi) {
    if (dpi <= 0)
        return 72;
    return dpi > 65535 ? 65535u : static_cast<unsigned>(dpi);
}

// Kept free of objects with destructors: libjpeg leaves through longjmp.
int compress(jpeg_compress_struct* cinfo, Destination* dest, RowReader* rows, const px_image* img,
             Tone tone, int quality) {
    ErrorManager err;
    cinfo->err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.emit_message = silentMessage;
    err.base.output_message = silentOutput;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_compress(cinfo);
        return dest->out->error() != 0 ? dest->out->error() : EIO;
    }
    jpeg_create_compress(cinfo);
    cinfo->dest = &dest->base;
    dest->base.init_destination = initDestination;
    dest->base.empty_output_buffer = emptyBuffer;
    dest->base.term_destination = termDestination;

    cinfo->image_width = static_cast<JDIMENSION>(img->width);
    cinfo->image_height = static_cast<JDIMENSION>(img->height);
    cinfo->input_components = channelsOf(tone);
    cinfo->in_color_space = tone == Tone::Colour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    cinfo->write_JFIF_header = TRUE;
    cinfo->density_unit = 1; // dots per inch
    cinfo->X_density = static_cast<UINT16>(density(img->xdpi));
    cinfo->Y_density = static_cast<UINT16>(density(img->ydpi));
    jpeg_start_compress(cinfo, TRUE);
    for (int y = 0; y < img->height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(rows->row(y));
        if (rows->failed()) {
            jpeg_destroy_compress(cinfo);
            return rows->error();
        }
        jpeg_write_scanlines(cinfo, &row, 1);
        if (dest->out->error() != 0) {
            jpeg_destroy_compress(cinfo);
            return dest->out->error();
        }
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return dest->out->error();
}

} // namespace

int writeJpeg(OutFile& out, const px_image& img, Tone tone, int quality) {
    if (tone == Tone::Bilevel)
        tone = Tone::Grey;
    quality = quality < 1 ? 1 : (quality > 100 ? 100 : quality);
    RowReader rows(img, tone);
    auto dest = std::make_unique<Destination>();
    dest->out = &out;
    jpeg_compress_struct cinfo{};
    return compress(&cinfo, dest.get(), &rows, &img, tone, quality);
}

} // namespace pxcodec
