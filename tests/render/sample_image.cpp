// Reads a PNG or TIFF row by row with libpng or libtiff, so images of billions of pixels are
// checked without holding them, and prints chosen rows and columns as runs of one colour:
//
//   sample_image <file> <rows, comma separated> <columns, comma separated>
//   -> "size W H", then per row "row Y: A-B R,G,B; ..." and per column "col X: ..."
//
// Grey and 1-bit images are printed as RGB (1-bit: black 0,0,0 and white 255,255,255).
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Rgb {
    unsigned char r, g, b;
    bool operator!=(const Rgb& o) const { return r != o.r || g != o.g || b != o.b; }
};

std::vector<long> numbers(const char* list) {
    std::vector<long> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.push_back(std::strtol(item.c_str(), nullptr, 10));
    return out;
}

std::string runs(const std::vector<Rgb>& line) {
    std::string out;
    size_t start = 0;
    for (size_t i = 1; i <= line.size(); ++i) {
        if (i < line.size() && !(line[i] != line[start]))
            continue;
        char text[64];
        std::snprintf(text, sizeof text, "%s%zu-%zu %d,%d,%d", out.empty() ? "" : "; ", start,
                      i - 1, line[start].r, line[start].g, line[start].b);
        out += text;
        start = i;
    }
    return out;
}

class Sampler {
public:
    Sampler(long width, long height, std::vector<long> rows, std::vector<long> cols)
        : m_width(width), m_rows(std::move(rows)), m_cols(std::move(cols)),
          m_colData(m_cols.size(), std::vector<Rgb>(static_cast<size_t>(height))) {
        std::printf("size %ld %ld\n", width, height);
    }
    // One decoded row as RGB.
    void take(long y, const std::vector<Rgb>& row) {
        for (long r : m_rows)
            if (r == y)
                m_rowText.push_back("row " + std::to_string(y) + ": " + runs(row));
        for (size_t i = 0; i < m_cols.size(); ++i)
            if (m_cols[i] >= 0 && m_cols[i] < m_width)
                m_colData[i][static_cast<size_t>(y)] = row[static_cast<size_t>(m_cols[i])];
    }
    void print() {
        for (const std::string& text : m_rowText)
            std::printf("%s\n", text.c_str());
        for (size_t i = 0; i < m_cols.size(); ++i)
            std::printf("col %ld: %s\n", m_cols[i], runs(m_colData[i]).c_str());
    }

private:
    long m_width;
    std::vector<long> m_rows, m_cols;
    std::vector<std::vector<Rgb>> m_colData;
    std::vector<std::string> m_rowText;
};

int samplePng(FILE* file, const std::vector<long>& rows, const std::vector<long>& cols) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "PNG error\n");
        return 1;
    }
    png_init_io(png, file);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    const long w = static_cast<long>(png_get_image_width(png, info));
    const long h = static_cast<long>(png_get_image_height(png, info));
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
        std::fprintf(stderr, "interlaced PNG\n");
        return 1;
    }
    Sampler sampler(w, h, rows, cols);
    std::vector<Rgb> row(static_cast<size_t>(w));
    for (long y = 0; y < h; ++y) {
        png_read_row(png, reinterpret_cast<png_bytep>(row.data()), nullptr);
        sampler.take(y, row);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    sampler.print();
    return 0;
}

int sampleTiff(const char* path, const std::vector<long>& rows, const std::vector<long>& cols) {
    TIFF* tif = TIFFOpen(path, "r");
    if (!tif)
        return 1;
    uint32_t w = 0, h = 0;
    uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    std::printf("tiff %s\n", TIFFIsBigTIFF(tif) ? "big" : "classic");
    Sampler sampler(w, h, rows, cols);
    std::vector<unsigned char> raw(static_cast<size_t>(TIFFScanlineSize(tif)));
    std::vector<Rgb> row(w);
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, raw.data(), y, 0) < 0) {
            std::fprintf(stderr, "TIFF read error at row %u\n", y);
            TIFFClose(tif);
            return 1;
        }
        for (uint32_t x = 0; x < w; ++x) {
            unsigned char v;
            if (bits == 1) {
                const bool set = raw[x >> 3] & (0x80 >> (x & 7));
                v = (set == (photometric == PHOTOMETRIC_MINISWHITE)) ? 0 : 255;
                row[x] = Rgb{v, v, v};
            } else if (samples == 1) {
                v = raw[x];
                row[x] = Rgb{v, v, v};
            } else {
                row[x] = Rgb{raw[3 * x], raw[3 * x + 1], raw[3 * x + 2]};
            }
        }
        sampler.take(y, row);
    }
    TIFFClose(tif);
    sampler.print();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <png or tiff> <rows> <columns>\n", argv[0]);
        return 2;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(argv[1], "rb"), std::fclose);
    if (!file)
        return 1;
    unsigned char magic[4] = {};
    if (std::fread(magic, 1, 4, file.get()) != 4)
        return 1;
    std::rewind(file.get());
    const std::vector<long> rows = numbers(argv[2]), cols = numbers(argv[3]);
    if (std::memcmp(magic, "\x89PNG", 4) == 0)
        return samplePng(file.get(), rows, cols);
    return sampleTiff(argv[1], rows, cols);
}
