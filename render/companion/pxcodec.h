/* Image writers of the rendering companion (linked into pxrender). */
#ifndef PIXOLUND_PXCODEC_H
#define PIXOLUND_PXCODEC_H

#include <stddef.h>

#if defined(__GNUC__)
#define PX_API __attribute__((visibility("default")))
#else
#define PX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif
/* Rows handed out a band at a time, for images too big to hold whole. fetch makes the band
   holding row y available: rows [*first, *first + *count) at *samples, *stride apart, valid
   until the next fetch. Returns 0 or an errno value; after a failure the writer stops and
   returns that value. Writers may go through the rows more than once (GIF does). */
typedef struct px_bands {
    int (*fetch)(void* opaque, int y, const unsigned char** samples, ptrdiff_t* stride, int* first,
                 int* count);
    void* opaque;
} px_bands;
typedef struct px_image {
    int width, height;
    int components;               /* 1 grey, 3 RGB; 8 bits per component */
    ptrdiff_t stride;             /* bytes per row */
    const unsigned char* samples; /* null: the rows come from `bands` */
    int xdpi, ydpi;               /* stored in headers where the format has a place */
    const px_bands* bands;
    int row_slack; /* 1: each row has a spare byte before it, rows lie exactly one byte apart
                      and the writer may overwrite them (PNG filters in place) */
} px_image;
typedef struct px_options {
    int bits_per_pixel;   /* 24, 8, or 1 (1: companion thresholds grey to black/white) */
    int tiff_compression; /* TIFF Compression tag: 1,2,3,4,5,7,32773 */
    int jpeg_quality;     /* 1..100 (clamped) */
    int grayscale;        /* 1: write grey (true 8-bit grey, or a grey palette) */
    int exclusive;        /* 1: `path` must not exist: a new regular file is created, never
                             through a link, a FIFO or a device (EEXIST otherwise) */
    int big_tiff;         /* 1: TIFF in the BigTIFF layout; see px_tiff_needs_big (a single
                             page written by px_write_image chooses by itself) */
} px_options;
/* ext: "jpg","bmp","png","gif","tiff","pcx","tga" (lower case). Writes exactly `path`.
   Returns 0, or an errno value (ENOSPC, EACCES, EIO, EINVAL, ENOMEM...). Never prints. */
PX_API int px_write_image(const char* path, const char* ext, const px_image* img,
                          const px_options* opt);
/* The same into `fd`, an empty file open for writing, which it always closes; on failure the
   file is left to whoever created it. */
PX_API int px_write_image_fd(int fd, const char* ext, const px_image* img, const px_options* opt);
/* 0 when the format can hold an image of width x height with these options, EFBIG when one
   of its fields cannot (JPEG 65,500 pixels a side; GIF, TGA, PCX their 16-bit fields; BMP its
   32-bit file size), EINVAL for an unknown format or a size below 1. */
PX_API int px_check_size(const char* ext, const px_options* opt, int width, int height);
/* Bytes the image's samples take uncompressed in the format (1-bit rows packed for TIFF). */
PX_API unsigned long long px_stored_bytes(const char* ext, const px_options* opt, int width,
                                          int height);
/* How many times the writer of the format reads the rows of an image in bands: 2 for a colour
   GIF, whose colours are counted before it is written (one of more than 256 colours takes a
   third, for its palette), else 1. 0 for an unknown format. */
PX_API int px_band_passes(const char* ext, const px_options* opt);
/* 1 when TIFF data of this many stored bytes (see px_stored_bytes) might not fit the classic
   layout's 4 GiB, whatever the compression makes of it. */
PX_API int px_tiff_needs_big(unsigned long long stored_bytes);
typedef struct px_tiff_writer px_tiff_writer;
PX_API int px_tiff_open(const char* path, const px_options* opt, px_tiff_writer** out);
/* The same into `fd`, an empty file open for reading and writing, which the writer takes over
   (closed by px_tiff_close or px_tiff_abort, or at once on failure; nothing is removed). */
PX_API int px_tiff_open_fd(int fd, const px_options* opt, px_tiff_writer** out);
PX_API int px_tiff_add_page(px_tiff_writer* w, const px_image* img);
/* px_tiff_close with no page added returns EINVAL and leaves no file. */
PX_API int px_tiff_close(px_tiff_writer* w);  /* flushes and frees; returns 0 or errno */
PX_API void px_tiff_abort(px_tiff_writer* w); /* frees, removes the partial file */
#ifdef __cplusplus
}
#endif

#endif
