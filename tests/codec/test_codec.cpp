// Writes a synthetic page through libpxcodec in every format and layout and
// checks each file with readers that share no code with the writers: Pillow,
// libtiff's tiffdump and ImageMagick's identify.
#include "render/companion/pxcodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Width = 301; // odd: row padding and half bytes get exercised
constexpr int Height = 203;
constexpr int XDpi = 300;
constexpr int YDpi = 150;

// A page-like picture: colour gradients on the left, black strokes on white
// (text-like hard edges) on the right.
struct Picture {
    std::vector<unsigned char> rgb;
    std::vector<unsigned char> grey;

    Picture() : rgb(Width * Height * 3), grey(Width * Height) {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                unsigned char* p = &rgb[(y * Width + x) * 3];
                if (x < Width / 2) {
                    p[0] = static_cast<unsigned char>(x * 255 / (Width / 2));
                    p[1] = static_cast<unsigned char>(y * 255 / (Height - 1));
                    p[2] = static_cast<unsigned char>(255 - (x + y) % 256);
                } else {
                    const bool ink = (x % 9 < 2 && y % 40 < 30) || y % 40 == 14;
                    p[0] = p[1] = p[2] = ink ? 0 : 255;
                }
                // Pillow's own luma weights, so grey sources and references agree.
                grey[y * Width + x] = static_cast<unsigned char>(
                    (p[0] * 19595 + p[1] * 38470 + p[2] * 7471 + 0x8000) >> 16);
            }
    }

    px_image image(int components, int height = Height) const {
        px_image img{};
        img.width = Width;
        img.height = height;
        img.components = components;
        img.stride = Width * components;
        img.samples = components == 3 ? rgb.data() : grey.data();
        img.xdpi = XDpi;
        img.ydpi = YDpi;
        return img;
    }

    // The reference as raw RGB rows, exactly what the writer was given.
    void saveReference(const fs::path& path, int components) const {
        std::ofstream f(path, std::ios::binary);
        if (components == 3) {
            f.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
            return;
        }
        for (unsigned char g : grey)
            f << g << g << g;
    }
};

const Picture& picture() {
    static const Picture p;
    return p;
}

px_options options(int bpp, int grey, int compression = 1, int quality = 90) {
    px_options o{};
    o.bits_per_pixel = bpp;
    o.grayscale = grey;
    o.tiff_compression = compression;
    o.jpeg_quality = quality;
    return o;
}

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    pclose(pipe);
    return output;
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

using Props = std::map<std::string, std::string>;

// Pillow's view of a file, optionally compared with the reference picture.
Props inspect(const fs::path& file, const fs::path& reference = {}, const char* mode = "",
              int width = Width, int height = Height) {
    std::string cmd =
        "/usr/bin/python3 " PIXOLUND_CODEC_TEST_DIR "/inspect_image.py " + quoted(file);
    if (!reference.empty())
        cmd += " " + quoted(reference) + " " + std::to_string(width) + " " +
               std::to_string(height) + " " + mode;
    Props props;
    std::istringstream lines(run(cmd));
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            props[line.substr(0, eq)] = line.substr(eq + 1);
        else
            props["error"] += line + "\n";
    }
    return props;
}

// Tag values per directory as tiffdump prints them, e.g. tags[0][259] == "4".
std::vector<std::map<int, std::string>> tiffTags(const fs::path& file) {
    std::vector<std::map<int, std::string>> dirs;
    std::istringstream lines(run("tiffdump " + quoted(file)));
    const std::regex dir(R"(^Directory \d+:)");
    const std::regex tag(R"(^\S+ \((\d+)\) \S+ \(\d+\) \d+<([^>]*)>)");
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, dir))
            dirs.emplace_back();
        else if (!dirs.empty() && std::regex_search(line, m, tag))
            dirs.back()[std::stoi(m[1])] = m[2];
    }
    return dirs;
}

std::uintmax_t fileSize(const fs::path& p) {
    return fs::file_size(p);
}

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pxcodec-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        picture().saveReference(dir / "ref3.rgb", 3);
        picture().saveReference(dir / "ref1.rgb", 1);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path reference(int components) const {
        return dir / (components == 3 ? "ref3.rgb" : "ref1.rgb");
    }

    // Writes the RGB page `rgb` as `name`.gif and, as its reference, `name`.rgb; returns the
    // GIF's path, or an empty one when the writer failed.
    fs::path writeGif(const std::vector<unsigned char>& rgb, const std::string& name,
                      int width = Width, int height = Height) const {
        std::ofstream(dir / (name + ".rgb"), std::ios::binary)
            .write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
        px_image img = picture().image(3);
        img.width = width;
        img.height = height;
        img.stride = width * 3;
        img.samples = rgb.data();
        const px_options opt = options(24, 0);
        const fs::path file = dir / (name + ".gif");
        return px_write_image(file.c_str(), "gif", &img, &opt) == 0 ? file : fs::path();
    }

    fs::path dir;
};

// ---------------------------------------------------------------------------
// Every format in colour and grey, single files.

struct FormatCase {
    const char* ext;
    int bpp;
    int grey;
    int components;      // of the rendered source
    const char* format;  // Pillow's name
    const char* mode;    // Pillow's mode of the file
    const char* compare; // layout the pixels are compared in
    bool hasDpi;
    double maxMean; // mean absolute difference allowed
    int maxDiff;    // largest single difference allowed
};

const FormatCase formatCases[] = {
    {"jpg", 24, 0, 3, "JPEG", "RGB", "RGB", true, 4.0, 255},
    {"jpg", 8, 1, 3, "JPEG", "L", "L", true, 3.0, 255},
    {"jpg", 8, 1, 1, "JPEG", "L", "L", true, 3.0, 255},
    {"png", 24, 0, 3, "PNG", "RGB", "RGB", true, 0, 0},
    {"png", 8, 1, 3, "PNG", "L", "L", true, 0.5, 1},
    {"png", 8, 1, 1, "PNG", "L", "L", true, 0, 0},
    {"png", 1, 0, 3, "PNG", "L", "L", true, 0.5, 1}, // 1-bit outside TIFF: grey
    {"png", 24, 0, 1, "PNG", "L", "L", true, 0, 0},  // grey source stays grey
    {"bmp", 24, 0, 3, "BMP", "RGB", "RGB", true, 0, 0},
    {"bmp", 8, 1, 3, "BMP", "L", "L", true, 0.5, 1},
    {"bmp", 8, 1, 1, "BMP", "L", "L", true, 0, 0},
    {"gif", 24, 0, 3, "GIF", "P", "RGB", false, 4.0, 255},
    {"gif", 8, 1, 3, "GIF", "L", "L", false, 0.5, 1},
    {"gif", 8, 1, 1, "GIF", "L", "L", false, 0, 0},
    {"tiff", 24, 0, 3, "TIFF", "RGB", "RGB", true, 0, 0},
    {"tiff", 8, 1, 3, "TIFF", "L", "L", true, 0.5, 1},
    {"tiff", 8, 1, 1, "TIFF", "L", "L", true, 0, 0},
    {"pcx", 24, 0, 3, "PCX", "RGB", "RGB", true, 0, 0},
    {"pcx", 8, 1, 3, "PCX", "L", "L", true, 0.5, 1},
    {"pcx", 8, 1, 1, "PCX", "L", "L", true, 0, 0},
    {"tga", 24, 0, 3, "TGA", "RGB", "RGB", false, 0, 0},
    {"tga", 8, 1, 3, "TGA", "L", "L", false, 0.5, 1},
    {"tga", 8, 1, 1, "TGA", "L", "L", false, 0, 0},
};

TEST_F(CodecTest, EveryFormatInColourAndGreyReadsBack) {
    for (const FormatCase& c : formatCases) {
        SCOPED_TRACE(std::string(c.ext) + " bpp " + std::to_string(c.bpp) + " grey " +
                     std::to_string(c.grey) + " source components " + std::to_string(c.components));
        const fs::path file = dir / (std::string("page 1 ä.") + c.ext);
        const px_image img = picture().image(c.components);
        const px_options opt = options(c.bpp, c.grey);
        ASSERT_EQ(px_write_image(file.c_str(), c.ext, &img, &opt), 0);

        Props p = inspect(file, reference(c.components), c.compare);
        ASSERT_EQ(p["error"], "");
        EXPECT_EQ(p["format"], c.format);
        EXPECT_EQ(p["mode"], c.mode);
        EXPECT_EQ(p["size"], "301x203");
        if (c.hasDpi) {
            EXPECT_EQ(p["dpi"], "300x150");
        }
        EXPECT_LE(std::stod(p["mean_diff"]), c.maxMean);
        EXPECT_LE(std::stoi(p["max_diff"]), c.maxDiff);
        if (std::string(c.ext) == "gif" && c.grey == 0) {
            EXPECT_GT(std::stoi(p["palette_colours"]), 64); // quantised, not posterised
        }

        // A second, unrelated reader must agree on what the file is.
        const std::string id = run("identify -format '%w %h %z\\n' " + quoted(file));
        EXPECT_EQ(id.substr(0, id.find('\n')), "301 203 8") << id;
    }
}

TEST_F(CodecTest, JpegQualityChangesTheFileAndIsClamped) {
    const px_image img = picture().image(3);
    auto sizeAt = [&](const char* ext, int quality, int compression) {
        const fs::path file = dir / ("q" + std::to_string(quality) + "." + ext);
        const px_options opt = options(24, 0, compression, quality);
        EXPECT_EQ(px_write_image(file.c_str(), ext, &img, &opt), 0);
        return fileSize(file);
    };
    for (const char* ext : {"jpg", "tiff"}) {
        SCOPED_TRACE(ext);
        EXPECT_LT(sizeAt(ext, 10, 7) * 2, sizeAt(ext, 95, 7));
        EXPECT_EQ(sizeAt(ext, 0, 7), sizeAt(ext, 1, 7));
        EXPECT_EQ(sizeAt(ext, 1000, 7), sizeAt(ext, 100, 7));
    }
}

// ---------------------------------------------------------------------------
// TIFF: every compression, single and multi-page.

struct TiffCase {
    int compression;
    int bpp;
    int grey;
    const char* photometric; // tag 262 as tiffdump prints it
    const char* bits;        // tag 258
    const char* mode;        // Pillow's mode
    const char* compare;
    double maxMean;
};

const TiffCase tiffCases[] = {
    {1, 24, 0, "2", "8 8 8", "RGB", "RGB", 0},
    {1, 8, 1, "1", "8", "L", "L", 0.5},
    {5, 24, 0, "2", "8 8 8", "RGB", "RGB", 0},
    {5, 8, 1, "1", "8", "L", "L", 0.5},
    {7, 24, 0, "6", "8 8 8", "RGB", "RGB", 4.0},
    {7, 8, 1, "1", "8", "L", "L", 3.0},
    {32773, 24, 0, "2", "8 8 8", "RGB", "RGB", 0},
    {32773, 8, 1, "1", "8", "L", "L", 0.5},
    {2, 1, 0, "0", "1", "1", "1", 2.0},
    {3, 1, 0, "0", "1", "1", "1", 2.0},
    {4, 1, 0, "0", "1", "1", "1", 2.0},
    {4, 1, 1, "0", "1", "1", "1", 2.0},
};

TEST_F(CodecTest, TiffEveryCompressionSingleAndMultiPage) {
    for (const TiffCase& c : tiffCases)
        for (int pages : {1, 3}) {
            SCOPED_TRACE("compression " + std::to_string(c.compression) + " bpp " +
                         std::to_string(c.bpp) + " pages " + std::to_string(pages));
            const fs::path file = dir / ("out " + std::to_string(c.compression) + ".tiff");
            const px_options opt = options(c.bpp, c.grey, c.compression);
            if (pages == 1) {
                const px_image img = picture().image(3);
                ASSERT_EQ(px_write_image(file.c_str(), "tiff", &img, &opt), 0);
            } else {
                px_tiff_writer* w = nullptr;
                ASSERT_EQ(px_tiff_open(file.c_str(), &opt, &w), 0);
                // Pages of different heights, as a document's pages may be.
                for (int height : {Height, Height / 2, 17}) {
                    const px_image img = picture().image(3, height);
                    ASSERT_EQ(px_tiff_add_page(w, &img), 0);
                }
                ASSERT_EQ(px_tiff_close(w), 0);
            }

            const auto dirs = tiffTags(file);
            ASSERT_EQ(dirs.size(), std::size_t(pages));
            for (const auto& tags : dirs) {
                EXPECT_EQ(tags.at(259), std::to_string(c.compression));
                EXPECT_EQ(tags.at(262), c.photometric);
                EXPECT_EQ(tags.at(258), c.bits);
                EXPECT_EQ(tags.at(296), "2"); // resolution in inches
                if (c.compression == 5 && c.bpp != 1) {
                    EXPECT_EQ(tags.at(317), "2"); // horizontal predictor
                }
            }

            Props p = inspect(file, reference(3), c.compare);
            ASSERT_EQ(p["error"], "");
            EXPECT_EQ(p["format"], "TIFF");
            EXPECT_EQ(p["mode"], c.mode);
            EXPECT_EQ(p["dpi"], "300x150");
            EXPECT_EQ(p["frames"], std::to_string(pages));
            EXPECT_EQ(p["frame_sizes"], pages == 1 ? "301x203" : "301x203,301x101,301x17");
            EXPECT_LE(std::stod(p["mean_diff"]), c.maxMean);
        }
}

TEST_F(CodecTest, TiffWriterWithoutPagesOrAbortedLeavesNoFile) {
    const px_options opt = options(24, 0, 5);
    const fs::path file = dir / "multi.tiff";
    px_tiff_writer* w = nullptr;
    ASSERT_EQ(px_tiff_open(file.c_str(), &opt, &w), 0);
    EXPECT_EQ(px_tiff_close(w), EINVAL);
    EXPECT_FALSE(fs::exists(file));

    ASSERT_EQ(px_tiff_open(file.c_str(), &opt, &w), 0);
    const px_image img = picture().image(3);
    ASSERT_EQ(px_tiff_add_page(w, &img), 0);
    px_tiff_abort(w);
    EXPECT_FALSE(fs::exists(file));
}

// ---------------------------------------------------------------------------
// Failures come back as errno values, and nothing half-written stays behind.

TEST_F(CodecTest, InvalidArgumentsGiveEinvalAndNoFile) {
    const px_image good = picture().image(3);
    px_image badComponents = good;
    badComponents.components = 4;
    px_image noSamples = good;
    noSamples.samples = nullptr;
    px_image emptyImage = good;
    emptyImage.width = 0;
    px_image shortStride = good;
    shortStride.stride = Width * 3 - 1;
    struct Case {
        const char* what;
        const char* ext;
        const px_image* img;
        px_options opt;
    } cases[] = {
        {"unknown extension", "webp", &good, options(24, 0)},
        {"empty extension", "", &good, options(24, 0)},
        {"four components", "png", &badComponents, options(24, 0)},
        {"no samples", "png", &noSamples, options(24, 0)},
        {"zero width", "bmp", &emptyImage, options(24, 0)},
        {"stride shorter than a row", "tga", &shortStride, options(24, 0)},
        {"16 bits per pixel", "png", &good, options(16, 0)},
        {"unknown TIFF compression", "tiff", &good, options(24, 0, 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = dir / "bad.out";
        EXPECT_EQ(px_write_image(file.c_str(), c.ext, c.img, &c.opt), EINVAL);
        EXPECT_FALSE(fs::exists(file));
    }
    EXPECT_EQ(px_write_image((dir / "x.png").c_str(), "png", &good, nullptr), EINVAL);
    px_tiff_writer* w = reinterpret_cast<px_tiff_writer*>(1);
    const px_options bad = options(24, 0, 99);
    EXPECT_EQ(px_tiff_open((dir / "x.tiff").c_str(), &bad, &w), EINVAL);
    EXPECT_EQ(w, nullptr);
}

const char* const allFormats[] = {"jpg", "bmp", "png", "gif", "tiff", "pcx", "tga"};

// Sends the process's stdout and stderr to a file while alive; text() tells
// what the library printed, which must be nothing.
class OutputCapture {
public:
    explicit OutputCapture(const fs::path& file) : m_file(file) {
        std::fflush(stdout);
        std::fflush(stderr);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        m_out = dup(1);
        m_err = dup(2);
        dup2(fd, 1);
        dup2(fd, 2);
        ::close(fd);
    }
    std::string text() {
        restore();
        std::ifstream f(m_file);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
    ~OutputCapture() { restore(); }

private:
    void restore() {
        if (m_out < 0)
            return;
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(m_out, 1);
        dup2(m_err, 2);
        ::close(m_out);
        ::close(m_err);
        m_out = m_err = -1;
    }
    fs::path m_file;
    int m_out = -1;
    int m_err = -1;
};

TEST_F(CodecTest, FullDiskGivesEnospcInEveryFormatSilently) {
    const px_image img = picture().image(3);
    std::vector<int> results;
    OutputCapture capture(dir / "printed.txt");
    for (const char* ext : allFormats) {
        const px_options opt = options(24, 0, 5);
        results.push_back(px_write_image("/dev/full", ext, &img, &opt));
    }
    const px_options opt = options(1, 0, 4);
    px_tiff_writer* w = nullptr;
    int err = px_tiff_open("/dev/full", &opt, &w);
    if (err == 0) {
        err = px_tiff_add_page(w, &img);
        err = err != 0 ? (px_tiff_abort(w), err) : px_tiff_close(w);
    }
    results.push_back(err);
    EXPECT_EQ(capture.text(), "");

    for (std::size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i], ENOSPC) << (i < std::size(allFormats) ? allFormats[i] : "multi-page");
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)); // a failed write never removes what it did not create
}

TEST_F(CodecTest, MissingOrUnwritableFolderGivesErrno) {
    const px_image img = picture().image(3);
    const px_options opt = options(24, 0);
    for (const char* ext : allFormats)
        EXPECT_EQ(px_write_image((dir / "missing" / "a").c_str(), ext, &img, &opt), ENOENT) << ext;

    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    chmod(locked.c_str(), 0555);
    // root passes any permission check, so the writes run as "nobody" in a child.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        for (const char* ext : allFormats) {
            const std::string file = (locked / "page.").string() + ext;
            if (px_write_image(file.c_str(), ext, &img, &opt) != EACCES)
                _exit(1);
        }
        px_tiff_writer* w = nullptr;
        _exit(px_tiff_open((locked / "all.tiff").c_str(), &opt, &w) == EACCES ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::is_empty(locked));
}

// ---------------------------------------------------------------------------
// The rendering library encodes pages on several threads at once.

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A page of exactly `count` distinct colours in stripes and blocks.
std::vector<unsigned char> pageWithColours(int count) {
    std::vector<unsigned char> rgb(Width * Height * 3);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const int i = y == 0 ? x % count : (x * 7 + y * 3) % count; // row 0: every colour
            unsigned char* p = &rgb[(y * Width + x) * 3];
            p[0] = static_cast<unsigned char>(i * 255 / std::max(count - 1, 1));
            p[1] = static_cast<unsigned char>((i * 37) % 256);
            p[2] = static_cast<unsigned char>(count > 256 ? i / 256 * 97 : 200);
        }
    return rgb;
}

TEST_F(CodecTest, GifKeepsTheExactColoursOfPagesWithFewOfThem) {
    struct Case {
        int colours;
        int tableBits; // colour table entries and LZW code size: 2^bits
    };
    for (const Case c : {Case{2, 1}, Case{17, 5}, Case{256, 8}}) {
        SCOPED_TRACE(std::to_string(c.colours) + " colours");
        const std::vector<unsigned char> rgb = pageWithColours(c.colours);
        const fs::path file = writeGif(rgb, "few");
        ASSERT_FALSE(file.empty());

        Props p = inspect(file, dir / "few.rgb", "RGB");
        ASSERT_EQ(p["error"], "");
        EXPECT_EQ(p["size"], "301x203");
        EXPECT_EQ(p["palette_colours"], std::to_string(c.colours));
        EXPECT_EQ(p["max_diff"], "0"); // every pixel, so every colour, as given

        const std::string bytes = slurp(file);
        ASSERT_GT(bytes.size(), 13u);
        EXPECT_EQ((bytes[10] & 7) + 1, c.tableBits) << "global colour table size";
        const std::size_t codeSize = 13 + (std::size_t(3) << c.tableBits) + 10;
        ASSERT_GT(bytes.size(), codeSize);
        EXPECT_EQ(int(bytes[codeSize]), std::max(c.tableBits, 2)) << "LZW minimum code size";

        EXPECT_EQ(slurp(writeGif(rgb, "few again")), bytes);
    }
}

TEST_F(CodecTest, GifQuantisesPagesWithMoreThan256Colours) {
    for (int colours : {257, 600, 5000}) {
        SCOPED_TRACE(std::to_string(colours) + " colours");
        const std::vector<unsigned char> rgb = pageWithColours(colours);
        const fs::path file = writeGif(rgb, "many");
        ASSERT_FALSE(file.empty());
        Props p = inspect(file, dir / "many.rgb", "RGB");
        ASSERT_EQ(p["error"], "");
        EXPECT_EQ(p["size"], "301x203");
        EXPECT_LE(std::stoi(p["palette_colours"]), 256);
        EXPECT_GT(std::stoi(p["palette_colours"]), 64);
        EXPECT_LE(std::stod(p["mean_diff"]), 4.0);

        EXPECT_EQ(slurp(writeGif(rgb, "many again")), slurp(file));
    }
}

// Anti-aliased text in two inks on white: each ink blends into the paper in
// 255 shades. Cores and paper dominate, the edge shades are rare.
std::vector<unsigned char> twoInkPage() {
    const int inks[2][3] = {{40, 40, 40}, {20, 60, 210}};
    std::vector<unsigned char> rgb(Width * Height * 3, 255);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const int k = y * Width + x;
            if (k % 5 != 0)
                continue; // paper
            const int* ink = inks[(k / 5) % 2];
            const int shade = (k / 10) % 300; // past 254: full ink, the glyph cores
            const int t = std::min(shade, 254);
            for (int c = 0; c < 3; ++c)
                rgb[std::size_t(k) * 3 + std::size_t(c)] =
                    static_cast<unsigned char>(255 - (255 - ink[c]) * (t + 1) / 255);
        }
    return rgb;
}

TEST_F(CodecTest, GifMapsTwoAntiAliasedInksWithoutDithering) {
    const std::vector<unsigned char> rgb = twoInkPage();
    const fs::path file = writeGif(rgb, "inks");
    ASSERT_FALSE(file.empty());
    Props p = inspect(file, dir / "inks.rgb", "RGB");
    ASSERT_EQ(p["error"], "");
    EXPECT_EQ(p["size"], "301x203");
    EXPECT_GT(std::stoi(p["palette_colours"]), 200);
    EXPECT_LE(std::stoi(p["max_diff"]), 2); // dithering would leave whole steps off

    EXPECT_EQ(slurp(writeGif(rgb, "inks again")), slurp(file));
}

TEST_F(CodecTest, GifImageDataDecodesToTheExactPixels) {
    struct Case {
        int width, height;
        int colours; // 1: flat
        const char* what;
    };
    const Case cases[] = {
        {1, 1, 1, "single pixel"},
        {3, 2, 2, "tiny, two colours"},
        {1000, 700, 1, "flat: long strings, widths up to 11 bits"},
        {257, 13, 2, "noise, 3-bit codes at first"},
        {301, 203, 17, "noise in 17 colours"},
        {640, 480, 256, "noise in 256 colours: the code table fills dozens of times"},
        {4000, 3, 200, "noise, wide and short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> rgb(std::size_t(c.width) * std::size_t(c.height) * 3);
        uint32_t seed = 12345;
        for (std::size_t k = 0; k < rgb.size(); k += 3) {
            seed = seed * 1103515245u + 12345u;
            const int i = static_cast<int>((seed >> 16) % uint32_t(c.colours));
            rgb[k] = static_cast<unsigned char>(i);
            rgb[k + 1] = static_cast<unsigned char>(i * 37);
            rgb[k + 2] = static_cast<unsigned char>(255 - i);
        }
        const fs::path file = writeGif(rgb, "lzw", c.width, c.height);
        ASSERT_FALSE(file.empty());

        Props p = inspect(file, dir / "lzw.rgb", "RGB", c.width, c.height);
        ASSERT_EQ(p["error"], "");
        EXPECT_EQ(p["size"], std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(p["max_diff"], "0");
        EXPECT_EQ(run("identify -regard-warnings -format '%w %h\\n' " + quoted(file)),
                  std::to_string(c.width) + " " + std::to_string(c.height) + "\n");
    }
}

TEST_F(CodecTest, ConcurrentWritersGiveTheSameFiles) {
    struct Job {
        const char* ext;
        px_options opt;
    };
    const Job jobs[] = {
        {"jpg", options(24, 0)},    {"png", options(24, 0)},     {"png", options(8, 1)},
        {"bmp", options(8, 1)},     {"gif", options(8, 1)},      {"tiff", options(24, 0, 7)},
        {"tiff", options(1, 0, 4)}, {"tiff", options(24, 0, 5)}, {"pcx", options(24, 0)},
        {"tga", options(24, 0)},    {"gif", options(24, 0)},
    };
    const px_image img = picture().image(3);
    auto name = [&](std::size_t job, int thread) {
        return dir /
               ("t" + std::to_string(thread) + "-" + std::to_string(job) + "." + jobs[job].ext);
    };
    const std::size_t count = std::size(jobs);
    for (std::size_t j = 0; j < count; ++j)
        ASSERT_EQ(px_write_image(name(j, 0).c_str(), jobs[j].ext, &img, &jobs[j].opt), 0);

    constexpr int Threads = 4;
    std::vector<int> results(Threads * count, -1);
    std::vector<std::thread> threads;
    for (int t = 1; t <= Threads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (std::size_t j = 0; j < count; ++j) {
                    const std::size_t k = (j + std::size_t(t)) % count; // different mixes
                    results[std::size_t(t - 1) * count + k] =
                        px_write_image(name(k, t).c_str(), jobs[k].ext, &img, &jobs[k].opt);
                }
        });
    for (auto& t : threads)
        t.join();
    for (int t = 1; t <= Threads; ++t)
        for (std::size_t j = 0; j < count; ++j) {
            EXPECT_EQ(results[std::size_t(t - 1) * count + j], 0);
            EXPECT_EQ(slurp(name(j, t)), slurp(name(j, 0))) << name(j, t);
        }
}

} // namespace

namespace {

// Hands out an image `rows` at a time, as the renderer does for pages too big to hold whole;
// with `failAt` set, the band holding that row fails with ENOSPC.
struct Bands {
    px_image whole;
    int rows;
    int failAt = -1;
    int fetches = 0;
    px_bands bands{fetch, this};

    static int fetch(void* opaque, int y, const unsigned char** samples, ptrdiff_t* stride,
                     int* first, int* count) {
        auto* self = static_cast<Bands*>(opaque);
        ++self->fetches;
        *first = y / self->rows * self->rows;
        *count = std::min(self->rows, self->whole.height - *first);
        if (self->failAt >= *first && self->failAt < *first + *count)
            return ENOSPC;
        *samples = self->whole.samples + *first * self->whole.stride;
        *stride = self->whole.stride;
        return 0;
    }
    px_image image() const {
        px_image img = whole;
        img.samples = nullptr;
        img.bands = &bands;
        return img;
    }
};

} // namespace

TEST_F(CodecTest, ImagesInBandsWriteWhatWholeImagesWrite) {
    struct Case {
        const char* ext;
        int components, bpp, grey, compression;
        bool sameBytes; // else the same pixels (PNG streams through zlib when in bands)
    };
    const Case cases[] = {
        {"jpg", 3, 24, 0, 1, true},     {"jpg", 1, 8, 1, 1, true},   {"bmp", 3, 24, 0, 1, true},
        {"bmp", 1, 8, 1, 1, true},      {"tga", 3, 24, 0, 1, true},  {"pcx", 3, 24, 0, 1, true},
        {"gif", 1, 8, 1, 1, true},      {"tiff", 3, 24, 0, 5, true}, {"tiff", 3, 1, 0, 4, true},
        {"tiff", 1, 8, 1, 32773, true}, {"png", 3, 24, 0, 1, false}, {"png", 1, 8, 1, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.components) + " channels, " +
                     std::to_string(c.bpp) + " bpp");
        Bands source{picture().image(c.components), 7}; // 7 rows: the last band is short
        const px_options opt = options(c.bpp, c.grey, c.compression);
        const fs::path whole = dir / (std::string("whole.") + c.ext);
        const fs::path banded = dir / (std::string("banded.") + c.ext);
        ASSERT_EQ(px_write_image(whole.c_str(), c.ext, &source.whole, &opt), 0);
        const px_image img = source.image();
        ASSERT_EQ(px_write_image(banded.c_str(), c.ext, &img, &opt), 0);
        EXPECT_LE(source.fetches, (Height + 6) / 7) << "each band fetched once";
        EXPECT_EQ(px_band_passes(c.ext, &opt), 1); // the renderer's band progress relies on it
        if (c.sameBytes) {
            EXPECT_EQ(slurp(banded), slurp(whole));
        } else {
            const fs::path ref = dir / "ref.rgb";
            picture().saveReference(ref, c.components);
            Props p = inspect(banded, ref, "RGB");
            ASSERT_EQ(p["error"], "");
            EXPECT_EQ(p["max_diff"], "0");
        }
        // A band that fails ends the file with its error and leaves nothing behind.
        source.failAt = Height / 2;
        const fs::path failed = dir / (std::string("failed.") + c.ext);
        EXPECT_EQ(px_write_image(failed.c_str(), c.ext, &img, &opt), ENOSPC);
        EXPECT_FALSE(fs::exists(failed));
    }
}

TEST_F(CodecTest, GifInBandsKeepsExactColoursAndQuantisesTheRest) {
    // 17 colours: exact, so the same file as whole; the gradients of the picture: read twice,
    // quantised from one histogram.
    const std::vector<unsigned char> few = pageWithColours(17);
    for (const bool exact : {true, false}) {
        SCOPED_TRACE(exact ? "17 colours" : "gradients");
        px_image whole = picture().image(3);
        if (exact)
            whole.samples = few.data();
        Bands source{whole, 10};
        const px_options opt = options(24, 0);
        const fs::path plain = dir / "whole.gif", banded = dir / "banded.gif";
        ASSERT_EQ(px_write_image(plain.c_str(), "gif", &whole, &opt), 0);
        const px_image img = source.image();
        ASSERT_EQ(px_write_image(banded.c_str(), "gif", &img, &opt), 0);
        // What the renderer expects when it tells how much of a page in bands is drawn; the
        // palette of many colours takes one pass more.
        const int bands = (Height + 9) / 10;
        if (exact)
            EXPECT_EQ(source.fetches, px_band_passes("gif", &opt) * bands);
        else
            EXPECT_LE(source.fetches, (px_band_passes("gif", &opt) + 1) * bands);
        if (exact) {
            EXPECT_EQ(slurp(banded), slurp(plain));
            continue;
        }
        const fs::path ref = dir / "ref.rgb";
        picture().saveReference(ref, 3);
        Props p = inspect(banded, ref, "RGB");
        ASSERT_EQ(p["error"], "");
        EXPECT_LE(std::stoi(p["palette_colours"]), 256);
        EXPECT_LE(std::stod(p["mean_diff"]), 4.0);
    }
}
