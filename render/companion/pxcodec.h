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
typedef struct px_image {
    int width, height;
    int components;   /* 1 grey, 3 RGB; 8 bits per component */
    ptrdiff_t stride; /* bytes per row */
    const unsigned char* samples;
    int xdpi, ydpi; /* stored in headers where the format has a place */
} px_image;
typedef struct px_options {
    int bits_per_pixel;   /* 24, 8, or 1 (1: companion thresholds grey to black/white) */
    int tiff_compression; /* TIFF Compression tag: 1,2,3,4,5,7,32773 */
    int jpeg_quality;     /* 1..100 (clamped) */
    int grayscale;        /* 1: write grey (true 8-bit grey, or a grey palette) */
    int exclusive;        /* 1: `path` must not exist: a new regular file is created, never
                             through a link, a FIFO or a device (EEXIST otherwise) */
} px_options;
/* ext: "jpg","bmp","png","gif","tiff","pcx","tga" (lower case). Writes exactly `path`.
   Returns 0, or an errno value (ENOSPC, EACCES, EIO, EINVAL, ENOMEM...). Never prints. */
PX_API int px_write_image(const char* path, const char* ext, const px_image* img,
                          const px_options* opt);
typedef struct px_tiff_writer px_tiff_writer;
PX_API int px_tiff_open(const char* path, const px_options* opt, px_tiff_writer** out);
PX_API int px_tiff_add_page(px_tiff_writer* w, const px_image* img);
/* px_tiff_close with no page added returns EINVAL and leaves no file. */
PX_API int px_tiff_close(px_tiff_writer* w);  /* flushes and frees; returns 0 or errno */
PX_API void px_tiff_abort(px_tiff_writer* w); /* frees, removes the partial file */
#ifdef __cplusplus
}
#endif

#endif
