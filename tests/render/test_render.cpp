// The rendering library, loaded like the program loads it, on fixture PDFs; every image is
// read back with an independent reader (Pillow).
#include "render/common/sanitized.h"
#include "tests/render/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <grp.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using RasterizePdfProc = int (*)(const char*, const char*, const char*, int32_t, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
using CancelRasterizeProc = void (*)();
using RasterizeProgressProc = int (*)(int32_t*, int32_t*, int32_t*);
using RasterizeLastCallProc = int (*)(int32_t*, int32_t*, int32_t*);
using namespace std::chrono_literals;

struct Frame {
    std::string file, format, mode, colours;
    int width = 0, height = 0, xdpi = 0, ydpi = 0, compression = 0;
};

struct Size {
    int width, height;
};
// three.pdf at 100 dpi: letter portrait, letter landscape, 4 x 3 inches.
const std::vector<Size> kThreeAt100 = {{850, 1100}, {1100, 850}, {400, 300}};

class Rasterize : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = pxtest::makeFixtureFolder(FIXTURE_SCRIPT);
        ASSERT_FALSE(root_.empty()) << "fixture PDFs could not be made";
        library_ = dlopen(PXRASTER_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        rasterize_ = reinterpret_cast<RasterizePdfProc>(dlsym(library_, "PxRasterizePdf"));
        ASSERT_NE(rasterize_, nullptr);
        cancel_ = reinterpret_cast<CancelRasterizeProc>(dlsym(library_, "PxCancelRasterize"));
        ASSERT_NE(cancel_, nullptr);
        progress_ = reinterpret_cast<RasterizeProgressProc>(dlsym(library_, "PxRasterizeProgress"));
        ASSERT_NE(progress_, nullptr);
        lastCall_ = reinterpret_cast<RasterizeLastCallProc>(dlsym(library_, "PxRasterizeLastCall"));
        ASSERT_NE(lastCall_, nullptr);
    }

    // The library and its engine copied into a fresh folder that every user can read, so that
    // an unprivileged process can run them wherever the build lies (under /root, say).
    static fs::path reachableEngineCopy() {
        std::string pattern = "/tmp/pxengine-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return {};
        const fs::path folder(pattern);
        const auto readable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
        fs::permissions(folder, readable);
        for (const fs::path& source : {fs::path(PXRASTER_PATH), fs::path(PXRENDER_PATH)}) {
            fs::copy_file(source, folder / source.filename());
            fs::permissions(folder / source.filename(), readable);
        }
        return folder;
    }

    // Makes calls of this process go to the library at `path`; false unless that very file
    // answers them.
    static bool useLibrary(const fs::path& path) {
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto entry = library ? reinterpret_cast<RasterizePdfProc>(dlsym(library, "PxRasterizePdf"))
                             : nullptr;
        Dl_info info{};
        if (!entry || !dladdr(reinterpret_cast<void*>(entry), &info) || !info.dli_fname ||
            fs::path(info.dli_fname) != path)
            return false;
        rasterize_ = entry;
        return true;
    }

    static void TearDownTestSuite() {
        if (library_)
            dlclose(library_);
        if (!root_.empty())
            fs::remove_all(root_);
    }

    static fs::path pdf(const std::string& name) { return root_ / "pdf" / name; }

    // A new, empty output folder.
    static fs::path outFolder(const std::string& name = "out") {
        const fs::path dir = root_ / (name + "-" + std::to_string(++folders_));
        fs::create_directories(dir);
        return dir;
    }

    // Returns 0, or the errno the library set with its non-zero result.
    static int call(const fs::path& pdfPath, const fs::path& target, const char* password, int dpi,
                    int bpp, int compression, int grey, int allInOne, int first, int last,
                    int quality = 85) {
        errno = 0;
        const int rc = rasterize_(pdfPath.c_str(), target.c_str(), password, 0, dpi, dpi, bpp,
                                  compression, quality, grey, allInOne, first, last);
        const int error = errno;
        if (rc == 0)
            return 0;
        return error ? error : -1;
    }

    // What the process wrote to stdout and stderr while `action` ran.
    template <typename Action> static std::string printedBy(Action action) {
        std::fflush(stdout);
        std::fflush(stderr);
        const fs::path capture = root_ / "printed.txt";
        const int file = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
        dup2(file, STDOUT_FILENO);
        dup2(file, STDERR_FILENO);
        action();
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(savedOut, STDOUT_FILENO);
        dup2(savedErr, STDERR_FILENO);
        ::close(savedOut);
        ::close(savedErr);
        ::close(file);
        std::ifstream in(capture);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::vector<std::string> files(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // How many files carry their final name; a running call also has ".part" files.
    static size_t finalFiles(const fs::path& dir) {
        const std::vector<std::string> names = files(dir);
        return std::count_if(names.begin(), names.end(),
                             [](const std::string& n) { return !n.ends_with(".part"); });
    }

    static std::vector<Frame> inspect(const fs::path& dir) {
        std::vector<std::string> args{"/usr/bin/python3", INSPECT_SCRIPT};
        for (const std::string& name : files(dir))
            args.push_back((dir / name).string());
        const pxtest::RunResult result = pxtest::run(args);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        std::vector<Frame> frames;
        std::istringstream lines(result.output);
        std::string line;
        while (std::getline(lines, line)) {
            Frame f;
            std::istringstream words(line);
            words >> f.file >> f.format >> f.width >> f.height >> f.mode >> f.xdpi >> f.ydpi >>
                f.compression >> f.colours;
            std::replace(f.file.begin(), f.file.end(), '?', ' ');
            frames.push_back(f);
        }
        return frames;
    }

    // What a Pillow snippet prints; sys.argv[1:] are `images`.
    static std::string python(const char* code, const std::vector<fs::path>& images) {
        std::vector<std::string> args{"/usr/bin/python3", "-c", code};
        for (const fs::path& image : images)
            args.push_back(image.string());
        const pxtest::RunResult result = pxtest::run(args);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return result.output;
    }

    // Runs one call (TIFF, 100 dpi, pages 1-3) in a child process after `restrict`; returns
    // its errno, 0 for success.
    template <typename Restrict>
    static int callInChild(Restrict restrict, const fs::path& target, int allInOne) {
        const pid_t pid = fork();
        if (pid == 0) {
            restrict();
            const int error =
                call(pdf("three.pdf"), target, nullptr, 100, 24, 5, 0, allInOne, 1, 3);
            _exit(error < 0 ? 255 : error);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    // A call running on a thread of its own. The thread is detached so that a call that never
    // returns fails the test instead of hanging it.
    class Background {
    public:
        explicit Background(std::function<int()> action) {
            auto result = std::make_shared<std::promise<int>>();
            future_ = result->get_future();
            std::thread([result, action] { result->set_value(action()); }).detach();
        }
        bool returnedWithin(std::chrono::milliseconds limit) {
            return future_.wait_for(limit) == std::future_status::ready;
        }
        int error() { return future_.get(); }

    private:
        std::future<int> future_;
    };

    template <typename Condition>
    static bool waitUntil(Condition condition, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    // The rendering companions the process with id `parent` has started.
    // Oldest first: a thread's companion outlives its call, so the newest is the latest call's.
    static std::vector<pid_t> companionsOf(pid_t parent) {
        std::vector<std::pair<unsigned long long, pid_t>> found;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::ifstream in(entry.path() / "stat");
            std::string stat((std::istreambuf_iterator<char>(in)), {});
            const size_t open = stat.find('('), close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos)
                continue;
            std::istringstream rest(stat.substr(close + 2));
            char state = 0;
            pid_t ppid = 0;
            rest >> state >> ppid;
            std::string skipped;
            for (int field = 5; field < 22; ++field)
                rest >> skipped;
            unsigned long long started = 0;
            rest >> started;
            if (ppid == parent && state != 'Z' &&
                stat.substr(open + 1, close - open - 1) == "pxrender")
                found.emplace_back(started, static_cast<pid_t>(std::stol(name)));
        }
        std::sort(found.begin(), found.end());
        std::vector<pid_t> pids;
        for (const auto& [started, pid] : found)
            pids.push_back(pid);
        return pids;
    }

    // Whether the process holds a file of `dir` open: named, or unnamed (created by O_TMPFILE).
    static bool holdsFileIn(pid_t pid, const fs::path& dir) {
        std::error_code error;
        for (const auto& entry :
             fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
            const std::string target = fs::read_symlink(entry.path(), error).string();
            if (!error && target.rfind(dir.string() + "/", 0) == 0)
                return true;
        }
        return false;
    }

    // Whether one of our companions is writing a file into `dir` (unnamed until complete).
    static bool writingInto(const fs::path& dir) {
        for (const pid_t pid : companionsOf(getpid()))
            if (holdsFileIn(pid, dir))
                return true;
        return false;
    }

    // Resident kilobytes of a process.
    static long residentKb(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0)
                return std::stol(line.substr(6));
        return -1;
    }

    // Gone, or a zombie nobody reaps (a container's first process may not).
    static bool processEnded(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const size_t close = stat.rfind(')');
        return stat.empty() || close == std::string::npos || stat.substr(close + 2, 1) == "Z";
    }

    static inline fs::path root_;
    static inline void* library_ = nullptr;
    static inline RasterizePdfProc rasterize_ = nullptr;
    static inline CancelRasterizeProc cancel_ = nullptr;
    static inline RasterizeProgressProc progress_ = nullptr;
    static inline RasterizeLastCallProc lastCall_ = nullptr;
    static inline int folders_ = 0;
};

// What the program can send: every format in colour and grey; TIFF with each compression,
// one file per page or all in one.
struct FormatCase {
    const char* ext;
    int bpp, compression, grey, allInOne;
    const char* colours;   // "colour", "grey" or "bw", as read back
    const char* format;    // Pillow's name of the format
    bool storesResolution; // the format has a place for it
};

const FormatCase kFormats[] = {
    {"jpg", 24, 5, 0, 0, "colour", "JPEG", true}, {"jpg", 8, 5, 1, 0, "grey", "JPEG", true},
    {"jpg", 24, 4, 0, 0, "colour", "JPEG", true}, // a TIFF compression passed along is ignored
    {"png", 24, 5, 0, 0, "colour", "PNG", true},  {"png", 8, 5, 1, 0, "grey", "PNG", true},
    {"bmp", 24, 5, 0, 0, "colour", "BMP", true},  {"bmp", 8, 5, 1, 0, "grey", "BMP", true},
    {"gif", 24, 5, 0, 0, "colour", "GIF", false}, {"gif", 8, 5, 1, 0, "grey", "GIF", false},
    {"pcx", 24, 5, 0, 0, "colour", "PCX", true},  {"pcx", 8, 5, 1, 0, "grey", "PCX", true},
    {"tga", 24, 5, 0, 0, "colour", "TGA", false}, {"tga", 8, 5, 1, 0, "grey", "TGA", false},
    {"gif", 24, 5, 0, 1, "colour", "GIF", false}, // all-in-one means nothing outside TIFF
};

void checkFrames(const std::vector<Frame>& frames, const FormatCase& c, int compression) {
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.file);
        EXPECT_EQ(f.format, c.format);
        EXPECT_EQ(f.colours, c.colours);
        if (std::string(c.colours) == "bw") {
            EXPECT_EQ(f.mode, "1");
        } else if (std::string(c.colours) == "grey") {
            EXPECT_TRUE(f.mode == "L" || f.mode == "P") << f.mode; // 8-bit grey or grey palette
        }
        EXPECT_EQ(f.compression, compression);
        EXPECT_EQ(f.xdpi, c.storesResolution ? 100 : 0);
        EXPECT_EQ(f.ydpi, c.storesResolution ? 100 : 0);
    }
}

TEST_F(Rasterize, EveryFormatAndColourModeWritesOneReadableFilePerPage) {
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(std::string(c.ext) + " bpp " + std::to_string(c.bpp));
        const fs::path dir = outFolder();
        ASSERT_EQ(call(pdf("three.pdf"), dir / (std::string("three.") + c.ext), nullptr, 100, c.bpp,
                       c.compression, c.grey, c.allInOne, 1, 3),
                  0);
        const std::string e = c.ext;
        EXPECT_EQ(files(dir),
                  (std::vector<std::string>{"three-1." + e, "three-2." + e, "three-3." + e}));
        const std::vector<Frame> frames = inspect(dir);
        ASSERT_EQ(frames.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(frames[i].width, kThreeAt100[i].width);
            EXPECT_EQ(frames[i].height, kThreeAt100[i].height);
        }
        checkFrames(frames, c, 0);
    }
}

TEST_F(Rasterize, EveryTiffCompressionAloneAndAllInOne) {
    struct TiffMode {
        int bpp, grey;
        const char* colours;
    };
    const TiffMode rich[] = {{24, 0, "colour"}, {8, 1, "grey"}};
    const TiffMode fax[] = {{1, 0, "bw"}, {1, 1, "bw"}}; // black and white in both colour modes
    for (int compression : {1, 2, 3, 4, 5, 7, 32773}) {
        const bool bilevel = compression >= 2 && compression <= 4;
        for (const TiffMode& m : bilevel ? fax : rich) {
            for (int allInOne : {0, 1}) {
                SCOPED_TRACE("compression " + std::to_string(compression) + " bpp " +
                             std::to_string(m.bpp) + " grey " + std::to_string(m.grey) +
                             " all-in-one " + std::to_string(allInOne));
                const fs::path dir = outFolder();
                ASSERT_EQ(call(pdf("three.pdf"), dir / "three.tiff", nullptr, 100, m.bpp,
                               compression, m.grey, allInOne, 1, 3),
                          0);
                const std::vector<std::string> expected =
                    allInOne
                        ? std::vector<std::string>{"three.tiff"}
                        : std::vector<std::string>{"three-1.tiff", "three-2.tiff", "three-3.tiff"};
                EXPECT_EQ(files(dir), expected);
                const std::vector<Frame> frames = inspect(dir);
                ASSERT_EQ(frames.size(), 3u); // pages in order, in one file or three
                for (size_t i = 0; i < 3; ++i) {
                    EXPECT_EQ(frames[i].width, kThreeAt100[i].width);
                    EXPECT_EQ(frames[i].height, kThreeAt100[i].height);
                }
                checkFrames(frames,
                            {"tiff", m.bpp, compression, m.grey, allInOne, m.colours, "TIFF", true},
                            compression);
            }
        }
    }
}

TEST_F(Rasterize, PageRangeIsClampedToTheDocument) {
    struct RangeCase {
        const char* pdfName;
        int first, last;
        std::vector<std::string> expected;
    };
    const RangeCase cases[] = {
        {"twelve.pdf",
         1,
         12,
         {"t-01.png", "t-02.png", "t-03.png", "t-04.png", "t-05.png", "t-06.png", "t-07.png",
          "t-08.png", "t-09.png", "t-10.png", "t-11.png", "t-12.png"}},
        {"twelve.pdf", 3, 5, {"t-03.png", "t-04.png", "t-05.png"}},
        {"twelve.pdf", 11, 40, {"t-11.png", "t-12.png"}},
        {"twelve.pdf", 0, 1, {"t-01.png"}},
        {"twelve.pdf", 13, 20, {}},
        {"twelve.pdf", 5, 3, {}},
        // The page tree claims a billion pages but holds two.
        {"absurd-count.pdf", 1, 1000000000, {"t-1.png", "t-2.png"}},
        {"cyclic-tree.pdf", 1, 5, {"t-1.png"}},
        // Loops in the page tree: the pages the information tool counts, no more and no less.
        {"tree-loop-first.pdf", 1, 5, {"t-1.png"}},
        {"tree-loop-second.pdf", 1, 2, {"t-1.png", "t-2.png"}},
        {"deep-tree.pdf", 1, 3, {"t-1.png", "t-2.png", "t-3.png"}},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " " + std::to_string(c.first) + ".." +
                     std::to_string(c.last));
        const fs::path dir = outFolder();
        EXPECT_EQ(call(pdf(c.pdfName), dir / "t.png", nullptr, 36, 24, 5, 0, 0, c.first, c.last),
                  0);
        EXPECT_EQ(files(dir), c.expected);
    }
}

TEST_F(Rasterize, PagesDeepInTheTreeInheritSizeRotationAndResources) {
    const fs::path dir = outFolder();
    ASSERT_EQ(call(pdf("deep-tree.pdf"), dir / "d.png", nullptr, 72, 24, 5, 0, 0, 1, 3), 0);
    const std::vector<Frame> frames = inspect(dir);
    ASSERT_EQ(frames.size(), 3u);
    const Size expected[] = {{100, 200}, {100, 200}, {150, 300}}; // rotated; the last sized alone
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(frames[i].file);
        EXPECT_EQ(frames[i].width, expected[i].width);
        EXPECT_EQ(frames[i].height, expected[i].height);
        EXPECT_EQ(frames[i].colours, "colour"); // the square drawn by the inherited form
    }
}

TEST_F(Rasterize, MultiPageTiffHoldsExactlyTheRange) {
    const fs::path dir = outFolder();
    ASSERT_EQ(call(pdf("three.pdf"), dir / "three.tiff", nullptr, 100, 1, 4, 0, 1, 2, 9), 0);
    const std::vector<Frame> frames = inspect(dir);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].width, 1100);
    EXPECT_EQ(frames[1].width, 400);
}

TEST_F(Rasterize, Passwords) {
    struct PasswordCase {
        const char* pdfName;
        const char* password;
        int expected;
    };
    const PasswordCase cases[] = {
        {"aes-256.pdf", nullptr, EACCES},     {"aes-256.pdf", "wrong", EACCES},
        {"aes-256.pdf", "secret", 0},         {"aes-256.pdf", "owner", 0},
        {"rc4-40.pdf", "secret", 0},          {"rc4-128.pdf", nullptr, EACCES},
        {"rc4-128.pdf", "secret", 0},         {"aes-128.pdf", "secret", 0},
        {"owner-only.pdf", nullptr, 0},       {"blank-password.pdf", "my secret pw", 0},
        {"umlaut-rc4.pdf", "\xc3\xa4", 0}, // UTF-8
        {"umlaut-rc4.pdf", "\xe4", 0},     // Latin-1
        {"umlaut-aes256.pdf", "\xc3\xa4", 0}, {"umlaut-aes256.pdf", "\xe4", 0},
        {"umlaut-aes256.pdf", "a", EACCES},
    };
    for (const PasswordCase& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " " + (c.password ? c.password : "(none)"));
        const fs::path dir = outFolder();
        EXPECT_EQ(call(pdf(c.pdfName), dir / "p.png", c.password, 36, 24, 5, 0, 0, 1, 1),
                  c.expected);
        EXPECT_EQ(files(dir).size(), c.expected == 0 ? 1u : 0u);
    }
}

TEST_F(Rasterize, FailuresSetErrnoAndLeaveNoFiles) {
    struct FailureCase {
        const char* what;
        const char* pdfName;
        const char* targetName;
        int dpi, bpp;
        int expected;
    };
    mkfifo(pdf("pipe.pdf").c_str(), 0600); // opening it for reading would wait for a writer
    const FailureCase cases[] = {
        {"missing file", "no-such.pdf", "x.png", 72, 24, ENOENT},
        {"damaged", "damaged.pdf", "x.png", 72, 24, EINVAL},
        {"not a PDF", "not-a-pdf.pdf", "x.png", 72, 24, EINVAL},
        {"empty file", "empty.pdf", "x.png", 72, 24, EINVAL},
        {"a folder", "", "x.png", 72, 24, EINVAL},
        {"a named pipe", "pipe.pdf", "x.png", 72, 24, EINVAL},
        {"missing output folder", "three.pdf", "missing/x.png", 72, 24, ENOENT},
        {"unknown format", "three.pdf", "x.xyz", 72, 24, EINVAL},
        {"bits per pixel", "three.pdf", "x.png", 72, 16, EINVAL},
        {"zero resolution", "three.pdf", "x.png", 0, 24, EINVAL},
        {"too wide for JPEG", "three.pdf", "x.jpg", 9000, 24, EFBIG},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = outFolder();
        int error = 0;
        const std::string printed = printedBy([&] {
            error = call(pdf(c.pdfName), dir / c.targetName, nullptr, c.dpi, c.bpp, 5, 0, 0, 1, 3);
        });
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(printed, ""); // MuPDF's own messages never reach the terminal
        EXPECT_TRUE(files(dir).empty());
    }
}

TEST_F(Rasterize, UnwritableFolderAndFailedWritesLeaveNoFiles) {
    // Permissions do not bind root: the child gives up its privileges first, and then runs a
    // copy of the library and engine it can reach (the build may lie in a private folder).
    const fs::path engine = reachableEngineCopy();
    ASSERT_FALSE(engine.empty());
    const fs::path library = engine / fs::path(PXRASTER_PATH).filename();
    auto unprivileged = [&library] {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(254);
        if (!useLibrary(library))
            _exit(253);
    };
    for (int allInOne : {0, 1}) {
        SCOPED_TRACE("all-in-one " + std::to_string(allInOne));
        const fs::path readOnly = outFolder("read-only");
        fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
        EXPECT_EQ(callInChild(unprivileged, readOnly / "three.tiff", allInOne), EACCES);
        EXPECT_TRUE(files(readOnly).empty());

        // A file size limit makes every write fail part-way, like a full disk. Left at its
        // default, the signal would end the writer: the caller is not it.
        for (const auto disposition : {SIG_IGN, SIG_DFL}) {
            SCOPED_TRACE(disposition == SIG_IGN ? "SIGXFSZ ignored" : "SIGXFSZ at its default");
            const fs::path dir = outFolder();
            auto smallFiles = [disposition] {
                signal(SIGXFSZ, disposition);
                const rlimit limit{2000, 2000};
                setrlimit(RLIMIT_FSIZE, &limit);
            };
            EXPECT_EQ(callInChild(smallFiles, dir / "three.tiff", allInOne), EFBIG);
            EXPECT_TRUE(files(dir).empty());
        }
    }
    fs::remove_all(engine);
}

// Another user's links and FIFOs where the output goes: at the names temporary files used to
// have, and at the final names. Nothing is written through them, nothing blocks, and every
// image ends up as a regular file of our own.
TEST_F(Rasterize, PlantedLinksAndFifosAreNeverWrittenThrough) {
    for (const bool multiPage : {false, true}) {
        const fs::path dir = outFolder("planted");
        const fs::path victim = root_ / "victim.txt";
        { std::ofstream(victim) << "precious"; }
        const std::vector<std::string> finals =
            multiPage ? std::vector<std::string>{"t.tiff"}
                      : std::vector<std::string>{"t-1.tiff", "t-2.tiff", "t-3.tiff"};
        for (const std::string& name : finals) {
            fs::create_symlink(victim, dir / (".~" + name + ".part"));
            ASSERT_EQ(mkfifo((dir / (".~" + name + ".fifo.part")).c_str(), 0666), 0);
        }
        fs::create_symlink(victim, dir / finals.front());
        ASSERT_EQ(mkfifo((dir / finals.back()).c_str(), 0666), multiPage ? -1 : 0);

        auto done = std::async(std::launch::async, [&] {
            return call(pdf("three.pdf"), dir / "t.tiff", nullptr, 36, 24, 5, 0, multiPage ? 1 : 0,
                        1, 3);
        });
        ASSERT_EQ(done.wait_for(60s), std::future_status::ready) << "blocked on a FIFO";
        EXPECT_EQ(done.get(), 0);

        std::ifstream in(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
        for (const std::string& name : finals) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / name))) << name;
            // The planted ones are left as they were; no temporary file of ours remains.
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / (".~" + name + ".part"))));
        }
        for (const std::string& name : files(dir)) {
            const bool planted =
                name.ends_with(".fifo.part") || fs::is_symlink(fs::symlink_status(dir / name));
            EXPECT_TRUE(name.find(".~") != 0 || planted) << "left behind: " << name;
            if (planted)
                fs::remove(dir / name); // the image reader would wait on a FIFO
        }
        EXPECT_EQ(inspect(dir).size(), 3u);
    }
}

// Every fixture, the hostile ones included, through the library as the program calls it: no call
// outlives the page limit by much, nothing is printed, no partial file stays, and the calling
// process (the program's) stays small whatever the page sizes.
TEST_F(Rasterize, EveryFixtureEndsQuietlyWithoutPartialFiles) {
    setenv("PX_PAGE_TIMEOUT_MS", "3000", 1);
    std::vector<fs::path> pdfs;
    for (const auto& entry : fs::directory_iterator(root_ / "pdf"))
        if (entry.is_regular_file() && entry.path().extension() == ".pdf")
            pdfs.push_back(entry.path());
    std::sort(pdfs.begin(), pdfs.end());
    ASSERT_GE(pdfs.size(), 15u);
    for (const fs::path& file : pdfs) {
        SCOPED_TRACE(file.filename().string());
        const fs::path dir = outFolder("sweep");
        bool returned = false;
        const std::string printed = printedBy([&] {
            Background running(
                [=] { return call(file, dir / "page.png", "secret", 36, 24, 5, 0, 0, 1, 999); });
            returned = running.returnedWithin(60s);
        });
        EXPECT_TRUE(returned);
        EXPECT_EQ(printed, "");
        for (const std::string& name : files(dir))
            EXPECT_FALSE(name.ends_with(".part")) << name;
    }
    unsetenv("PX_PAGE_TIMEOUT_MS");
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 300L * 1024) << "peak kilobytes of the calling process";
}

TEST_F(Rasterize, NamesWithBlanksAndNonAscii) {
    const fs::path source = root_ / "pdf" / "mein Bericht \xc3\xa4.pdf";
    fs::copy_file(pdf("three.pdf"), source, fs::copy_options::overwrite_existing);
    const fs::path dir = outFolder("Ausgabe \xc3\xb8");
    ASSERT_EQ(call(source, dir / "mein Bericht \xc3\xa4.png", nullptr, 36, 8, 5, 1, 0, 1, 2), 0);
    ASSERT_EQ(call(source, dir / "mein Bericht \xc3\xa4.tiff", nullptr, 36, 8, 5, 1, 1, 1, 3), 0);
    EXPECT_EQ(files(dir), (std::vector<std::string>{"mein Bericht \xc3\xa4-1.png",
                                                    "mein Bericht \xc3\xa4-2.png",
                                                    "mein Bericht \xc3\xa4.tiff"}));
    EXPECT_EQ(inspect(dir).size(), 5u);
}

TEST_F(Rasterize, LongNamesAreWrittenUnderTheirFinalNames) {
    // Final names of 252 bytes (the pages of a PDF named with 250) and 255 (a base name of 250
    // bytes): the temporary names, 20 bytes longer in full, are cut short.
    auto named = [](size_t bytes) {
        std::string name(bytes % 2, 'x');
        while (name.size() < bytes)
            name += "\xc3\xa4"; // "ä"
        return name;
    };
    const std::string pages = named(246), book = named(250);
    const fs::path dir = outFolder("long");
    ASSERT_EQ(call(pdf("three.pdf"), dir / (pages + ".png"), nullptr, 36, 24, 5, 0, 0, 1, 3), 0);
    ASSERT_EQ(call(pdf("three.pdf"), dir / (book + ".tiff"), nullptr, 36, 24, 5, 0, 1, 1, 3), 0);
    std::vector<std::string> expected{pages + "-1.png", pages + "-2.png", pages + "-3.png",
                                      book + ".tiff"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files(dir), expected);
    EXPECT_EQ(inspect(dir).size(), 6u);
}

TEST_F(Rasterize, PagesThatNeverFinishAreStopped) {
    // A Type3 glyph that shows itself: MuPDF's interpreter recurses until it gives up.
    const fs::path loop = outFolder();
    int rc = -1;
    EXPECT_EQ(printedBy([&] {
                  rc = call(pdf("type3-loop.pdf"), loop / "loop.png", nullptr, 72, 24, 5, 0, 0, 1,
                            1);
              }),
              "");
    EXPECT_TRUE(rc == 0 || rc == EINVAL) << rc;
    for (const std::string& name : files(loop))
        EXPECT_EQ(name, "loop-1.png");

    // Ten million shapes through nested forms, and a tiling pattern of a hundredth of a point
    // whose cell loop MuPDF never interrupts: the page is stopped at its time limit.
    setenv("PX_PAGE_TIMEOUT_MS", "300", 1);
    for (const char* name : {"heavy-page.pdf", "tiny-tiling.pdf"}) {
        for (const char* target : {"heavy.png", "heavy.tiff"}) {
            SCOPED_TRACE(std::string(name) + " " + target);
            const fs::path heavy = outFolder();
            Background running(
                [=] { return call(pdf(name), heavy / target, nullptr, 72, 24, 5, 0, 1, 1, 1); });
            ASSERT_TRUE(running.returnedWithin(60s));
            EXPECT_EQ(running.error(), ETIME);
            EXPECT_TRUE(files(heavy).empty());
        }
    }
    unsetenv("PX_PAGE_TIMEOUT_MS");
}

TEST_F(Rasterize, PagesHaveAnOverallTimeLimitThatBandsDoNotRestart) {
    // The poster at 300 dpi: some 300 bands of a tenth of a second each, far below the
    // no-progress limit, all of them above the page's overall limit.
    setenv("PX_PAGE_TOTAL_TIMEOUT_MS", "1500", 1);
    for (const char* target : {"p.png", "p.tiff"}) {
        SCOPED_TRACE(target);
        const fs::path dir = outFolder();
        Background running(
            [=] { return call(pdf("poster.pdf"), dir / target, nullptr, 300, 24, 5, 0, 1, 1, 1); });
        ASSERT_TRUE(running.returnedWithin(60s));
        EXPECT_EQ(running.error(), ETIME);
        EXPECT_TRUE(files(dir).empty());
    }
    unsetenv("PX_PAGE_TOTAL_TIMEOUT_MS");
}

TEST_F(Rasterize, OpeningTheFileIsTimedLikeAPage) {
    // A PDF header and 2 GB of nothing (a sparse file, no disk space): MuPDF reads it all in
    // search of objects before a page range can be known.
    const fs::path sparse = root_ / "sparse.pdf";
    { std::ofstream(sparse) << "%PDF-1.7\n"; }
    fs::resize_file(sparse, std::uintmax_t{2} << 30);
    setenv("PX_PAGE_TIMEOUT_MS", "1000", 1);
    const fs::path dir = outFolder();
    Background running([=] { return call(sparse, dir / "s.png", nullptr, 72, 24, 5, 0, 0, 1, 1); });
    const bool returned = running.returnedWithin(60s);
    unsetenv("PX_PAGE_TIMEOUT_MS");
    ASSERT_TRUE(returned);
    EXPECT_EQ(running.error(), ETIME);
    EXPECT_TRUE(files(dir).empty());
    fs::remove(sparse);
}

TEST_F(Rasterize, PageBeyondTheMemoryLimitFailsWithEnomem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    // Letter size at 1800 dpi needs a bitmap of 900 MB, drawn whole with bands of 4 GB.
    setenv("PX_MEMORY_LIMIT_MB", "400", 1);
    setenv("PX_BAND_KB", "4194304", 1);
    for (const char* target : {"big.png", "big.tiff"}) {
        SCOPED_TRACE(target);
        const fs::path dir = outFolder();
        EXPECT_EQ(call(pdf("three.pdf"), dir / target, nullptr, 1800, 24, 5, 0, 1, 1, 3), ENOMEM);
        EXPECT_TRUE(files(dir).empty());
    }
    unsetenv("PX_MEMORY_LIMIT_MB");
    unsetenv("PX_BAND_KB");
    const fs::path dir = outFolder();
    EXPECT_EQ(call(pdf("three.pdf"), dir / "small.png", nullptr, 36, 24, 5, 0, 0, 1, 1), 0);
#endif
}

TEST_F(Rasterize, RunningOutOfMemoryIsEnomemNeverAMissingImage) {
#ifdef PX_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    // Decoding the image of jpx-bomb.pdf takes about 340 MB, parsing the page tree of
    // page-tree-bomb.pdf about 250 MB. Under 150 MB MuPDF would leave the image out, or find no
    // pages; a damaged file stays damaged and a small one converts.
    struct MemoryCase {
        const char* pdfName;
        const char* target;
        int allInOne;
        const char* bandKb; // drawn in bands of this size
        int expected;
    };
    const MemoryCase cases[] = {
        {"jpx-bomb.pdf", "j.png", 0, nullptr, ENOMEM},
        {"jpx-bomb.pdf", "j.tiff", 1, nullptr, ENOMEM},
        {"jpx-bomb.pdf", "j.png", 0, "16", ENOMEM},
        {"page-tree-bomb.pdf", "t.png", 0, nullptr, ENOMEM},
        {"damaged.pdf", "d.png", 0, nullptr, EINVAL},
        {"three.pdf", "t.png", 0, nullptr, 0},
    };
    setenv("PX_MEMORY_LIMIT_MB", "150", 1);
    for (const MemoryCase& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " " + c.target + (c.bandKb ? " in bands" : ""));
        if (c.bandKb)
            setenv("PX_BAND_KB", c.bandKb, 1);
        const fs::path dir = outFolder();
        EXPECT_EQ(call(pdf(c.pdfName), dir / c.target, nullptr, 72, 24, 5, 0, c.allInOne, 1, 1),
                  c.expected);
        unsetenv("PX_BAND_KB");
        EXPECT_EQ(files(dir).size(), c.expected ? 0u : 1u);
    }
    unsetenv("PX_MEMORY_LIMIT_MB");

    // Under the default limit both convert: the grey image over the blue square, the red one
    // over the image.
    const fs::path dir = outFolder();
    ASSERT_EQ(call(pdf("jpx-bomb.pdf"), dir / "j.png", nullptr, 72, 24, 5, 0, 0, 1, 1), 0);
    ASSERT_EQ(call(pdf("page-tree-bomb.pdf"), dir / "t.png", nullptr, 72, 24, 5, 0, 0, 1, 9), 0);
    EXPECT_EQ(files(dir), (std::vector<std::string>{"j-1.png", "t-1.png"}));
    EXPECT_EQ(python("import sys\n"
                     "from PIL import Image\n"
                     "im = Image.open(sys.argv[1]).convert('RGB')\n"
                     "print(im.getpixel((100, 100)), im.getpixel((25, 175)), "
                     "im.getpixel((165, 35)))",
                     {dir / "j-1.png"}),
              "(90, 90, 90) (90, 90, 90) (255, 0, 0)\n");
#endif
}

TEST_F(Rasterize, EngineHasOneGigabyteByDefault) {
#ifdef PX_SANITIZED
    GTEST_SKIP() << "no memory limit applies under the sanitizers";
#else
    // Room for the stack and malloc arena of each worker beyond the second.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const long long byDefault = (1LL << 30) + (96LL << 20) * (cores > 2 ? cores - 2 : 0);
    for (const auto& [setting, bytes] :
         {std::pair<const char*, long long>{nullptr, byDefault}, {"700", 700LL << 20}}) {
        SCOPED_TRACE(setting ? setting : "default");
        if (setting)
            setenv("PX_MEMORY_LIMIT_MB", setting, 1);
        const fs::path dir = outFolder();
        Background heavy([=] {
            return call(pdf("heavy-page.pdf"), dir / "h.png", nullptr, 72, 24, 5, 0, 0, 1, 1);
        });
        int32_t inRange = 0;
        const bool ranged =
            waitUntil([&] { return progress_(nullptr, &inRange, nullptr) && inRange; }, 60s);
        unsetenv("PX_MEMORY_LIMIT_MB");
        ASSERT_TRUE(ranged); // the limit is set before the range is known
        const std::vector<pid_t> companions = companionsOf(getpid());
        ASSERT_FALSE(companions.empty());
        std::ifstream in("/proc/" + std::to_string(companions.back()) + "/limits");
        const std::string limits((std::istreambuf_iterator<char>(in)), {});
        cancel_();
        ASSERT_TRUE(heavy.returnedWithin(10s));
        EXPECT_EQ(heavy.error(), ECANCELED);
        const size_t at = limits.find("Max address space");
        ASSERT_NE(at, std::string::npos) << limits;
        std::istringstream values(limits.substr(at + 17));
        long long soft = 0, hard = 0;
        values >> soft >> hard;
        EXPECT_EQ(soft, bytes);
        EXPECT_EQ(hard, bytes);
    }

    // Two letter pages at 600 dpi at once, 101 MB of bitmap each, fit as PNG (the writer that
    // keeps most beside its page).
    setenv("PX_RENDER_THREADS", "2", 1);
    const fs::path dir = outFolder();
    const int error = call(pdf("three.pdf"), dir / "t.png", nullptr, 600, 24, 5, 0, 0, 1, 3);
    unsetenv("PX_RENDER_THREADS");
    EXPECT_EQ(error, 0);
    EXPECT_EQ(files(dir), (std::vector<std::string>{"t-1.png", "t-2.png", "t-3.png"}));
#endif
}

TEST_F(Rasterize, CompanionKilledFromOutsideGivesEio) {
    struct KillCase {
        const char* target;
        int allInOne;
        std::vector<std::string> kept; // pages finished before the kill
    };
    const KillCase cases[] = {
        {"h.png", 0, {"h-1.png", "h-2.png", "h-3.png", "h-4.png", "h-6.png", "h-7.png", "h-8.png"}},
        {"h.tiff", 1, {}}, // the unfinished multi-page TIFF goes
    };
    // With two workers one stays on the heavy fifth page while the other finishes the rest.
    setenv("PX_RENDER_THREADS", "2", 1);
    for (const KillCase& c : cases) {
        SCOPED_TRACE(c.target);
        const fs::path dir = outFolder();
        Background running([=] {
            return call(pdf("heavy-fifth.pdf"), dir / c.target, nullptr, 72, 24, 5, 0, c.allInOne,
                        1, 8);
        });
        ASSERT_TRUE(
            waitUntil([&] { return c.allInOne ? writingInto(dir) : finalFiles(dir) == 7; }, 60s));
        const std::vector<pid_t> companions = companionsOf(getpid());
        ASSERT_FALSE(companions.empty());
        ::kill(companions.back(), SIGKILL);
        ASSERT_TRUE(running.returnedWithin(10s));
        EXPECT_EQ(running.error(), EIO);
        EXPECT_EQ(files(dir), c.kept);
    }
    unsetenv("PX_RENDER_THREADS");
}

// A thread's calls share one companion: it keeps serving after a failed file, tells the page
// count of each file, and is replaced when it dies, between calls or during one.
TEST_F(Rasterize, OneCompanionServesAThreadsCallsAndIsReplacedWhenItDies) {
    const fs::path dir = outFolder();
    std::atomic<int> step{0};
    std::atomic<pid_t> killed{0};
    std::thread caller([&] {
        EXPECT_EQ(call(pdf("three.pdf"), dir / "a.png", nullptr, 72, 24, 5, 0, 0, 1, 1), 0);
        const pid_t first = companionsOf(getpid()).back();
        EXPECT_EQ(call(root_ / "missing.pdf", dir / "m.png", nullptr, 72, 24, 5, 0, 0, 1, 1),
                  ENOENT);
        EXPECT_EQ(call(pdf("three.pdf"), dir / "b.png", nullptr, 72, 24, 5, 0, 0, 2, 9), 0);
        EXPECT_EQ(companionsOf(getpid()).back(), first);
        int32_t pages = 0, done = 0, inRange = 0;
        EXPECT_EQ(lastCall_(&pages, &done, &inRange), 1);
        EXPECT_EQ(std::tuple(pages, done, inRange), std::tuple(3, 2, 2));

        // Killed while idle: the next file does not notice.
        ::kill(first, SIGKILL);
        EXPECT_TRUE(waitUntil([&] { return processEnded(first); }, 10s));
        EXPECT_EQ(call(pdf("three.pdf"), dir / "c.png", nullptr, 72, 24, 5, 0, 0, 1, 1), 0);
        EXPECT_NE(companionsOf(getpid()).back(), first);

        // Killed during a file: that file is EIO, the next one converts.
        step = 1;
        EXPECT_EQ(call(pdf("heavy-page.pdf"), dir / "h.png", nullptr, 72, 24, 5, 0, 0, 1, 1), EIO);
        EXPECT_EQ(call(pdf("three.pdf"), dir / "d.png", nullptr, 72, 24, 5, 0, 0, 1, 1), 0);
        EXPECT_NE(companionsOf(getpid()).back(), killed.load());
    });
    ASSERT_TRUE(waitUntil([&] { return step == 1 && progress_(nullptr, nullptr, nullptr); }, 60s));
    std::this_thread::sleep_for(200ms);
    killed = companionsOf(getpid()).back();
    ::kill(killed, SIGKILL);
    caller.join();
    EXPECT_EQ(files(dir),
              (std::vector<std::string>{"a-1.png", "b-2.png", "b-3.png", "c-1.png", "d-1.png"}));
}

// With a rest folder set, a companion whose thread let go waits there, and the next thread's
// call takes it over, the same process; one that died resting is passed by; one taken over is
// still killed on cancel and leaves nothing; and it ends once its rest time is up.
TEST_F(Rasterize, IdleCompanionsRestAndAreTakenOver) {
    const fs::path dir = outFolder();
    const fs::path rest = root_ / "rest";
    fs::create_directories(rest);
    fs::permissions(rest, fs::perms::owner_all);
    setenv("PX_ENGINE_REST_DIR", rest.c_str(), 1);
    setenv("PX_ENGINE_REST_MS", "20000", 1);
    const auto sockets = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(rest))
            names.push_back(entry.path().filename().string());
        return names;
    };
    const auto newCompanions = [before = companionsOf(getpid())] {
        std::vector<pid_t> now = companionsOf(getpid()), fresh;
        for (pid_t pid : now)
            if (std::find(before.begin(), before.end(), pid) == before.end())
                fresh.push_back(pid);
        return fresh;
    };
    const auto inThread = [](const std::function<void()>& work) { std::thread(work).join(); };

    inThread([&] {
        EXPECT_EQ(call(pdf("three.pdf"), dir / "a.png", nullptr, 72, 24, 5, 0, 0, 1, 1), 0);
    });
    ASSERT_TRUE(waitUntil([&] { return sockets().size() == 1; }, 10s));
    const std::string resting = sockets()[0];
    const std::vector<pid_t> first = newCompanions();
    ASSERT_EQ(first.size(), 1u);

    inThread([&] {
        EXPECT_EQ(call(pdf("three.pdf"), dir / "b.png", nullptr, 72, 24, 5, 0, 0, 2, 2), 0);
        EXPECT_TRUE(sockets().empty()); // taken over: nobody else gets it meanwhile
    });
    ASSERT_TRUE(waitUntil([&] { return sockets().size() == 1; }, 10s));
    EXPECT_EQ(sockets()[0], resting);
    EXPECT_EQ(newCompanions(), first);

    // Cancelled while taken over: killed, its partial files gone, the call ECANCELED.
    inThread([&] {
        Background heavy([&] {
            return call(pdf("heavy-page.pdf"), dir / "h.png", nullptr, 72, 24, 5, 0, 0, 1, 1);
        });
        ASSERT_TRUE(waitUntil([&] { return progress_(nullptr, nullptr, nullptr) == 1; }, 60s));
        std::this_thread::sleep_for(200ms);
        cancel_();
        ASSERT_TRUE(heavy.returnedWithin(10s));
        EXPECT_EQ(heavy.error(), ECANCELED);
    });
    EXPECT_TRUE(waitUntil([&] { return processEnded(first[0]); }, 10s));

    // The killed one's socket is passed by; a fresh companion serves and rests 300 ms.
    setenv("PX_ENGINE_REST_MS", "300", 1);
    inThread([&] {
        EXPECT_EQ(call(pdf("three.pdf"), dir / "c.png", nullptr, 72, 24, 5, 0, 0, 3, 3), 0);
    });
    const std::vector<pid_t> second = newCompanions();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_TRUE(waitUntil([&] { return processEnded(second[0]); }, 10s));
    EXPECT_EQ(files(dir), (std::vector<std::string>{"a-1.png", "b-2.png", "c-3.png"}));
    unsetenv("PX_ENGINE_REST_DIR");
    unsetenv("PX_ENGINE_REST_MS");
}

// The companion drops each file's document and caches: what it holds after many files is what
// it held after a few.
TEST_F(Rasterize, CompanionMemoryStaysFlatOverManyFiles) {
#ifdef PX_SANITIZED
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine, so resident size grows";
#endif
    const fs::path dir = outFolder();
    const char* const names[] = {"three.pdf", "colour-spaces.pdf", "type3-between-shapes.pdf"};
    long afterFew = 0, afterMany = 0;
    std::thread([&] {
        for (int i = 1; i <= 500; ++i) {
            const fs::path target = dir / (std::to_string(i % 7) + ".png");
            ASSERT_EQ(call(pdf(names[i % 3]), target, nullptr, 72, 24, 5, 0, 0, 1, 1), 0) << i;
            if (i == 5)
                afterFew = residentKb(companionsOf(getpid()).back());
        }
        afterMany = residentKb(companionsOf(getpid()).back());
    }).join();
    ASSERT_GT(afterFew, 0);
    EXPECT_LT(afterMany - afterFew, 50 * 1024)
        << afterFew << " kB after 5, " << afterMany << " kB after 500";
}

TEST_F(Rasterize, CompanionEndsWithTheCallingProcess) {
    // The caller is killed while the engine draws a page, with a multi-page TIFF begun, and
    // while it writes a page band by band: the engine ends too, and no file of it remains (the
    // library names each only once complete).
    struct CallerCase {
        const char* pdfName;
        const char* target;
        int dpi, allInOne;
        bool writing; // killed once the engine holds its file open
    };
    const CallerCase cases[] = {
        {"heavy-page.pdf", "heavy.png", 72, 0, false},
        {"heavy-fifth.pdf", "h.tiff", 72, 1, true},
        {"poster.pdf", "p.png", 300, 0, true},
    };
    for (const CallerCase& c : cases) {
        SCOPED_TRACE(c.target);
        const fs::path dir = outFolder();
        const pid_t caller = fork();
        if (caller == 0) {
            setenv("PX_PAGE_TIMEOUT_MS", "600000", 1);
            call(pdf(c.pdfName), dir / c.target, nullptr, c.dpi, 24, 5, 0, c.allInOne, 1, 8);
            _exit(0);
        }
        std::vector<pid_t> companions;
        const bool busy = waitUntil(
            [&] {
                companions = companionsOf(caller);
                return !companions.empty() && (!c.writing || holdsFileIn(companions[0], dir));
            },
            60s);
        ::kill(caller, SIGKILL);
        waitpid(caller, nullptr, 0);
        ASSERT_TRUE(busy);
        EXPECT_TRUE(waitUntil([&] { return processEnded(companions[0]); }, 10s));
        EXPECT_EQ(files(dir), std::vector<std::string>{});
    }
}

TEST_F(Rasterize, DamagedImageDataPrintsNothing) {
    const fs::path dir = outFolder();
    int rc = -1;
    EXPECT_EQ(printedBy([&] {
                  rc = call(pdf("damaged-jpeg.pdf"), dir / "j.png", nullptr, 72, 24, 5, 0, 0, 1, 1);
              }),
              "");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(files(dir), std::vector<std::string>{"j-1.png"});
}

TEST_F(Rasterize, ContentThatFailsPartWayKeepsWhatWasDrawn) {
    // A red square, text whose Type3 glyph shows itself, then a green triangle.
    const fs::path dir = outFolder();
    ASSERT_EQ(call(pdf("type3-between-shapes.pdf"), dir / "t.png", nullptr, 72, 24, 5, 0, 0, 1, 1),
              0);
    EXPECT_EQ(python("import sys\n"
                     "from PIL import Image\n"
                     "im = Image.open(sys.argv[1]).convert('RGB')\n"
                     "print(im.getpixel((40, 160)), im.getpixel((155, 180)))",
                     {dir / "t-1.png"}),
              "(255, 0, 0) (0, 255, 0)\n");
}

TEST_F(Rasterize, GreyIsTheLuminanceOfTheColourRendering) {
    // CMYK image and fill, ICCBased, RGB, grey, Lab, Separation and Indexed on one page.
    struct GreyCase {
        const char* ext;
        int compression;
    };
    const GreyCase cases[] = {{"png", 5}, {"tiff", 5}, {"bmp", 5}};
    for (const GreyCase& c : cases) {
        SCOPED_TRACE(c.ext);
        const std::string name = std::string("c.") + c.ext;
        const fs::path colour = outFolder(), grey = outFolder();
        ASSERT_EQ(call(pdf("colour-spaces.pdf"), colour / name, nullptr, 100, 24, c.compression, 0,
                       0, 1, 1),
                  0);
        ASSERT_EQ(
            call(pdf("colour-spaces.pdf"), grey / name, nullptr, 100, 8, c.compression, 1, 0, 1, 1),
            0);
        const std::string file = std::string("c-1.") + c.ext;
        // The largest difference from Rec. 601 luminance, in levels.
        EXPECT_EQ(
            python("import sys\n"
                   "from PIL import Image\n"
                   "colour = Image.open(sys.argv[1]).convert('RGB')\n"
                   "grey = Image.open(sys.argv[2]).convert('L')\n"
                   "assert grey.size == colour.size\n"
                   "print(max(abs(l - (299 * r + 587 * g + 114 * b) / 1000) for (r, g, b), l\n"
                   "          in zip(colour.getdata(), grey.getdata())) <= 2)",
                   {colour / file, grey / file}),
            "True\n");
    }
}

TEST_F(Rasterize, LibraryExportsOnlyItsEntries) {
    const pxtest::RunResult nm =
        pxtest::run({"/usr/bin/nm", "-D", "--defined-only", PXRASTER_PATH});
    ASSERT_EQ(nm.exitCode, 0) << nm.output;
    std::set<std::string> names;
    std::istringstream lines(nm.output);
    std::string address, type, name;
    while (lines >> address >> type >> name)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"PxCancelRasterize", "PxRasterizeLastCall",
                                            "PxRasterizePdf", "PxRasterizeProgress"}));
}

TEST_F(Rasterize, CancelEndsEveryRunningCallPromptlyAndKeepsFinishedImages) {
    // With two workers one stays on the heavy fifth page while the other finishes the rest; in
    // the multi-page TIFF that one then waits for its turn after the heavy page.
    setenv("PX_RENDER_THREADS", "2", 1);
    const fs::path pages = outFolder(), whole = outFolder();
    Background perPage([=] {
        return call(pdf("heavy-fifth.pdf"), pages / "h.png", nullptr, 72, 24, 5, 0, 0, 1, 8);
    });
    Background allInOne([=] {
        return call(pdf("heavy-fifth.pdf"), whole / "h.tiff", nullptr, 72, 24, 5, 0, 1, 1, 8);
    });
    const bool busy = waitUntil([&] { return finalFiles(pages) == 7 && writingInto(whole); }, 60s);
    unsetenv("PX_RENDER_THREADS");
    ASSERT_TRUE(busy);
    ASSERT_FALSE(perPage.returnedWithin(0ms));
    ASSERT_FALSE(allInOne.returnedWithin(0ms));

    cancel_();
    // The heavy page alone would take minutes.
    ASSERT_TRUE(perPage.returnedWithin(3s));
    ASSERT_TRUE(allInOne.returnedWithin(3s));
    EXPECT_EQ(perPage.error(), ECANCELED);
    EXPECT_EQ(allInOne.error(), ECANCELED);

    EXPECT_EQ(files(pages), (std::vector<std::string>{"h-1.png", "h-2.png", "h-3.png", "h-4.png",
                                                      "h-6.png", "h-7.png", "h-8.png"}));
    for (const Frame& f : inspect(pages)) {
        SCOPED_TRACE(f.file);
        EXPECT_EQ(f.format, "PNG");
        EXPECT_EQ(f.width, 144);
        EXPECT_EQ(f.height, 72);
    }
    EXPECT_TRUE(files(whole).empty()) << "neither the multi-page TIFF nor its temporary file";

    // The cancel is over with the calls it ended: a new call renders normally (on a thread of
    // its own, so that a call that never returns fails the test instead of hanging it).
    Background after([=] {
        return call(pdf("three.pdf"), whole / "three.tiff", nullptr, 100, 24, 5, 0, 1, 1, 3);
    });
    ASSERT_TRUE(after.returnedWithin(60s));
    ASSERT_EQ(after.error(), 0);
    EXPECT_EQ(files(whole), std::vector<std::string>{"three.tiff"});
    EXPECT_EQ(inspect(whole).size(), 3u);
}

TEST_F(Rasterize, CancelWithNoCallRunningLeavesLaterCallsAlone) {
    cancel_();
    cancel_();
    const fs::path dir = outFolder();
    ASSERT_EQ(call(pdf("three.pdf"), dir / "three.png", nullptr, 100, 24, 5, 0, 0, 1, 3), 0);
    const std::vector<Frame> frames = inspect(dir);
    ASSERT_EQ(frames.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i].width, kThreeAt100[i].width);
        EXPECT_EQ(frames[i].height, kThreeAt100[i].height);
    }
}

// Pages too large to hold whole are drawn in bands and streamed into the writers.

struct ColourRun {
    long first, last;
    int r, g, b;
};

// "0-29998 255,255,255; 29999-29999 240,247,240; ..." as sample_image prints a line.
std::vector<ColourRun> parseRuns(const std::string& text) {
    std::vector<ColourRun> runs;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ';')) {
        ColourRun run{};
        if (std::sscanf(item.c_str(), " %ld-%ld %d,%d,%d", &run.first, &run.last, &run.r, &run.g,
                        &run.b) == 5)
            runs.push_back(run);
    }
    return runs;
}

// Every run of two pixels or more lies within one expected run (give or take the pixel at an
// edge) and has its colour within two levels; single pixels (anti-aliased edges) lie at an
// expected edge. The line spans exactly the expected length.
void expectRuns(const std::string& printed, std::vector<ColourRun> expected) {
    // Neighbours of one colour (black and black at 1 bit) are one run.
    for (size_t i = 1; i < expected.size();) {
        const ColourRun &a = expected[i - 1], &b = expected[i];
        if (a.r == b.r && a.g == b.g && a.b == b.b) {
            expected[i - 1].last = b.last;
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    const std::vector<ColourRun> runs = parseRuns(printed);
    ASSERT_FALSE(runs.empty()) << printed;
    EXPECT_EQ(runs.back().last, expected.back().last) << printed;
    auto near = [](const ColourRun& x, const ColourRun& y) {
        return std::abs(x.r - y.r) <= 2 && std::abs(x.g - y.g) <= 2 && std::abs(x.b - y.b) <= 2;
    };
    for (const ColourRun& run : runs) {
        const long middle = (run.first + run.last) / 2;
        const auto home = std::find_if(expected.begin(), expected.end(), [&](const ColourRun& e) {
            return e.first <= middle && middle <= e.last;
        });
        ASSERT_NE(home, expected.end()) << printed;
        if (run.last > run.first) {
            EXPECT_TRUE(near(run, *home) && run.first >= home->first - 1 &&
                        run.last <= home->last + 1)
                << "run " << run.first << "-" << run.last << " in: " << printed;
        } else {
            EXPECT_TRUE(std::abs(run.first - home->first) <= 1 ||
                        std::abs(run.first - home->last) <= 1)
                << "stray pixel " << run.first << " in: " << printed;
        }
    }
}

// sample_image's lines for `file`: "size", "tiff", "row N", "col N" to their text.
std::map<std::string, std::string> sampleImage(const fs::path& file, const std::string& rows,
                                               const std::string& cols) {
    const pxtest::RunResult result = pxtest::run({SAMPLE_IMAGE, file.string(), rows, cols});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::map<std::string, std::string> lines;
    std::istringstream in(result.output);
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            lines[line.substr(0, colon)] = line.substr(colon + 2);
        else if (const size_t blank = line.find(' '); blank != std::string::npos)
            lines[line.substr(0, blank)] = line.substr(blank + 1);
    }
    return lines;
}

// Runs `action` in a child process: returns its errno and sets *peakMb to the largest resident
// size the call's processes reached (the child and the engine process it started).
int callMeasured(const std::function<int()>& action, long* peakMb) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int error = action();
        _exit(error < 0 ? 255 : error);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    *peakMb = usage.ru_maxrss / 1024;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_SANITIZERS()                                                                    \
    GTEST_SKIP() << "billions of pixels: too slow, and the peak is the sanitizers' own"
#else
#define SKIP_UNDER_SANITIZERS()
#endif

constexpr long kPeakLimitMb = 500;

TEST_F(Rasterize, PosterOf200InchesAt300DpiInBoundedMemory) {
    SKIP_UNDER_SANITIZERS();
    // 60000 x 60000 pixels: 10.8 GB as RGB. A dark green stripe down the page (columns
    // 30000-30299) over a blue one across it (rows 44700-44999) and a red square in the bottom
    // right corner (from 50000, 50000).
    const ColourRun W{0, 0, 255, 255, 255}, G{0, 0, 0, 128, 0}, B{0, 0, 0, 0, 255},
        R{0, 0, 255, 0, 0}, K{0, 0, 0, 0, 0};
    auto runs = [](std::initializer_list<std::tuple<long, long, ColourRun>> parts) {
        std::vector<ColourRun> out;
        for (const auto& [first, last, colour] : parts)
            out.push_back(ColourRun{first, last, colour.r, colour.g, colour.b});
        return out;
    };
    struct PosterCase {
        const char* target;
        int bpp, compression;
        const char* layout; // TIFF: "big" past 4 GiB of samples
    };
    for (const PosterCase& c : {PosterCase{"p.png", 24, 5, ""}, PosterCase{"p.tiff", 24, 5, "big"},
                                PosterCase{"g.tiff", 1, 4, "classic"}}) {
        SCOPED_TRACE(c.target);
        const bool bw = c.bpp == 1;
        const ColourRun g = bw ? K : G, b = bw ? K : B, r = bw ? K : R;
        const fs::path dir = outFolder("poster");
        long peakMb = 0;
        ASSERT_EQ(callMeasured(
                      [&] {
                          return call(pdf("poster.pdf"), dir / c.target, nullptr, 300, c.bpp,
                                      c.compression, 0, 0, 1, 1);
                      },
                      &peakMb),
                  0);
        EXPECT_LT(peakMb, kPeakLimitMb) << "peak MB of the call and its engine process";
        const std::string name =
            fs::path(c.target).stem().string() + "-1" + fs::path(c.target).extension().string();
        auto lines = sampleImage(dir / name, "100,44850,55000", "1000,30150,55000");
        EXPECT_EQ(lines["size"], "60000 60000");
        if (*c.layout) {
            EXPECT_EQ(lines["tiff"], c.layout);
        }
        expectRuns(lines["row 100"], runs({{0, 29999, W}, {30000, 30299, g}, {30300, 59999, W}}));
        expectRuns(lines["row 44850"], runs({{0, 29999, b}, {30000, 30299, g}, {30300, 59999, b}}));
        expectRuns(lines["row 55000"],
                   runs({{0, 29999, W}, {30000, 30299, g}, {30300, 49999, W}, {50000, 59999, r}}));
        expectRuns(lines["col 1000"], runs({{0, 44699, W}, {44700, 44999, b}, {45000, 59999, W}}));
        expectRuns(lines["col 30150"], runs({{0, 59999, g}}));
        expectRuns(lines["col 55000"],
                   runs({{0, 44699, W}, {44700, 44999, b}, {45000, 49999, W}, {50000, 59999, r}}));
        fs::remove_all(dir);
    }
}

TEST_F(Rasterize, FourHugePagesShareOneMemoryBudget) {
    SKIP_UNDER_SANITIZERS();
    // Four pages of 18900 points: 78750 pixels a side at 300 dpi, too wide for JPEG.
    const fs::path refused = outFolder();
    EXPECT_EQ(call(pdf("huge-pages.pdf"), refused / "h.jpg", nullptr, 300, 24, 5, 0, 0, 1, 4),
              EFBIG);
    EXPECT_TRUE(files(refused).empty());

    // Two workers on two huge pages at once, all in one TIFF. Each page takes longer than the
    // time limit, each of its bands far less: the limit counts from the latest band.
    setenv("PX_RENDER_THREADS", "2", 1);
    setenv("PX_PAGE_TIMEOUT_MS", "5000", 1);
    const fs::path dir = outFolder("huge");
    long peakMb = 0;
    const int error = callMeasured(
        [&] { return call(pdf("huge-pages.pdf"), dir / "h.tiff", nullptr, 300, 1, 4, 0, 1, 1, 4); },
        &peakMb);
    unsetenv("PX_RENDER_THREADS");
    unsetenv("PX_PAGE_TIMEOUT_MS");
    ASSERT_EQ(error, 0);
    EXPECT_LT(peakMb, kPeakLimitMb) << "peak MB of the call and its engine process";
    ASSERT_EQ(files(dir), std::vector<std::string>{"h.tiff"});
    const pxtest::RunResult info = pxtest::run({"/usr/bin/tiffinfo", (dir / "h.tiff").string()});
    size_t pages = 0;
    for (size_t at = 0;
         (at = info.output.find("Image Width: 78750 Image Length: 78750", at)) != std::string::npos;
         ++at)
        ++pages;
    EXPECT_EQ(pages, 4u) << info.output;
    // Page 1: the red box of the fixture from (83, 52417) to (39458, 78667), black at 1 bit.
    auto lines = sampleImage(dir / "h.tiff", "70000", "20000");
    EXPECT_EQ(lines["tiff"], "big");
    expectRuns(lines["row 70000"],
               {{0, 82, 255, 255, 255}, {83, 39458, 0, 0, 0}, {39459, 78749, 255, 255, 255}});
    expectRuns(lines["col 20000"],
               {{0, 52416, 255, 255, 255}, {52417, 78666, 0, 0, 0}, {78667, 78749, 255, 255, 255}});
    fs::remove_all(dir);
}

TEST_F(Rasterize, WorkersWaitingForTheMemoryBudgetStillFinish) {
    // A budget smaller than one page: the workers take turns. In a multi-page TIFF the page
    // whose turn it is always proceeds, though later pages hold the budget waiting for it.
    setenv("PX_RENDER_THREADS", "4", 1);
    setenv("PX_BITMAP_BUDGET_MB", "1", 1);
    for (const int allInOne : {0, 1}) {
        SCOPED_TRACE(allInOne ? "all in one TIFF" : "one PNG per page");
        const fs::path dir = outFolder();
        const fs::path target = dir / (allInOne ? "t.tiff" : "t.png");
        Background running([=] {
            return call(pdf("twelve.pdf"), target, nullptr, 100, 24, 5, 0, allInOne, 1, 12);
        });
        ASSERT_TRUE(running.returnedWithin(120s));
        EXPECT_EQ(running.error(), 0);
        const std::vector<Frame> frames = inspect(dir);
        EXPECT_EQ(frames.size(), 12u);
    }
    unsetenv("PX_RENDER_THREADS");
    unsetenv("PX_BITMAP_BUDGET_MB");
}

TEST_F(Rasterize, PagesBeyondWhatTheFormatHoldsAreRefusedBeforeAnyWork) {
    // format-limits.pdf at 72 dpi: page 1 is 100 pixels square; pages 2-6 are 8 pixels high
    // and 65500, 65501, 65534, 65535 and 65536 wide; page 7 is 38000 square.
    struct LimitCase {
        const char* ext;
        int bpp, grey, page, expected;
    };
    const LimitCase cases[] = {
        {"jpg", 24, 0, 2, 0},     {"jpg", 24, 0, 3, EFBIG}, {"pcx", 24, 0, 4, 0},
        {"pcx", 24, 0, 5, EFBIG}, {"gif", 24, 0, 5, 0},     {"gif", 24, 0, 6, EFBIG},
        {"tga", 8, 1, 5, 0},      {"tga", 8, 1, 6, EFBIG},  {"png", 24, 0, 6, 0},
        {"bmp", 24, 0, 7, EFBIG}, // 4.3 GB of samples; the file size is a 32-bit field
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(std::string(c.ext) + " page " + std::to_string(c.page));
        const fs::path dir = outFolder();
        const fs::path target = dir / (std::string("l.") + c.ext);
        EXPECT_EQ(call(pdf("format-limits.pdf"), target, nullptr, 72, c.bpp, 5, c.grey, 0, c.page,
                       c.page),
                  c.expected);
        EXPECT_EQ(files(dir).size(), c.expected ? 0u : 1u);
        // With a page it can hold first, the range is refused before that page is written.
        if (c.expected) {
            EXPECT_EQ(
                call(pdf("format-limits.pdf"), target, nullptr, 72, c.bpp, 5, c.grey, 0, 1, c.page),
                EFBIG);
            EXPECT_TRUE(files(dir).empty());
        }
    }
}

TEST_F(Rasterize, PagesBeyondAnyUseAreRefusedAtOnce) {
    // user-unit.pdf: page 1 is 144 points square; page 2 is letter-sized in units of 75000
    // points, 46 million by 59 million pixels at 72 dpi, which would be drawn a row per band
    // for years; page 3 is two billion points long and one high.
    struct BeyondCase {
        const char* target;
        int dpi, allInOne, first, last, expected;
    };
    const BeyondCase cases[] = {
        {"u.png", 72, 0, 1, 2, EFBIG},                                // before page 1 is written
        {"u.tiff", 72, 1, 2, 2, EFBIG}, {"u.png", 1, 0, 2, 2, EFBIG}, // still 5 x 10^11 pixels
        {"u.png", 144, 0, 3, 3, EFBIG},                               // 4 x 10^9 pixels wide
        {"u.png", 72, 0, 1, 1, 0},
    };
    for (const BeyondCase& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " " + std::to_string(c.dpi) + " dpi, pages " +
                     std::to_string(c.first) + "-" + std::to_string(c.last));
        const fs::path dir = outFolder();
        Background running([=] {
            return call(pdf("user-unit.pdf"), dir / c.target, nullptr, c.dpi, 24, 5, 0, c.allInOne,
                        c.first, c.last);
        });
        ASSERT_TRUE(running.returnedWithin(5s)) << "still drawing";
        EXPECT_EQ(running.error(), c.expected);
        EXPECT_EQ(files(dir).size(), c.expected ? 0u : 1u);
    }
}

TEST_F(Rasterize, PagesDrawnInBandsMatchPagesDrawnWhole) {
    // Bands of 16 KB: a few rows each, so every page here is drawn in bands.
    struct BandCase {
        const char* pdfName;
        const char* target;
        int bpp, compression, grey, allInOne;
    };
    const BandCase cases[] = {
        {"three.pdf", "t.png", 24, 5, 0, 0},         {"colour-spaces.pdf", "c.png", 8, 5, 1, 0},
        {"colour-spaces.pdf", "c.gif", 24, 5, 0, 0}, {"three.pdf", "t.bmp", 24, 5, 0, 0},
        {"three.pdf", "t.tiff", 1, 4, 0, 1},         {"colour-spaces.pdf", "c.jpg", 24, 5, 0, 0},
    };
    for (const BandCase& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " " + c.target);
        const fs::path whole = outFolder(), banded = outFolder();
        ASSERT_EQ(call(pdf(c.pdfName), whole / c.target, nullptr, 100, c.bpp, c.compression, c.grey,
                       c.allInOne, 1, 3),
                  0);
        setenv("PX_BAND_KB", "16", 1);
        const int error = call(pdf(c.pdfName), banded / c.target, nullptr, 100, c.bpp,
                               c.compression, c.grey, c.allInOne, 1, 3);
        unsetenv("PX_BAND_KB");
        ASSERT_EQ(error, 0);
        ASSERT_EQ(files(banded), files(whole));
        for (const std::string& name : files(whole))
            EXPECT_EQ(python("import sys\n"
                             "from PIL import Image, ImageChops, ImageSequence\n"
                             "a, b = Image.open(sys.argv[1]), Image.open(sys.argv[2])\n"
                             "same = [ImageChops.difference(x.convert('RGB'), y.convert('RGB'))"
                             ".getbbox() is None\n"
                             "        for x, y in zip(ImageSequence.Iterator(a),"
                             " ImageSequence.Iterator(b))]\n"
                             "print(getattr(a, 'n_frames', 1), all(same))",
                             {whole / name, banded / name}),
                      std::string(c.allInOne ? "3" : "1") + " True\n")
                << name;
    }
}

} // namespace

namespace {

// What PxRasterizeProgress said at one moment.
struct Reading {
    int running = 0;
    int32_t pagesDone = 0, pagesInRange = 0, bandThousandths = 0;
};

// The program polls from its own thread while a call runs on another.

class Progress : public Rasterize {
protected:
    static Reading read() {
        Reading r;
        r.running = progress_(&r.pagesDone, &r.pagesInRange, &r.bandThousandths);
        return r;
    }
    // The readings of the call on `running`, taken until it returns: from the first that
    // `isOurs` up to the next that is not (another call's, or none's before the call starts
    // and after it ends).
    template <typename IsOurs>
    static std::vector<Reading> watch(Background& running, IsOurs isOurs) {
        std::vector<Reading> seen;
        const auto giveUp = std::chrono::steady_clock::now() + 120s;
        while (!running.returnedWithin(1ms) && std::chrono::steady_clock::now() < giveUp)
            seen.push_back(read());
        const auto first = std::find_if(seen.begin(), seen.end(), isOurs);
        const auto last = std::find_if_not(first, seen.end(), isOurs);
        return {first, last};
    }
};

TEST_F(Progress, TellsThePagesOfTheLatestCallStillRunning) {
    Reading idle{-1, -1, -1, -1};
    idle.running = progress_(&idle.pagesDone, &idle.pagesInRange, &idle.bandThousandths);
    EXPECT_EQ(idle.running, 0);
    EXPECT_EQ(idle.pagesDone, 0);
    EXPECT_EQ(idle.pagesInRange, 0);
    EXPECT_EQ(idle.bandThousandths, 0);
    EXPECT_EQ(progress_(nullptr, nullptr, nullptr), 0);

    // An older call busy on a page that takes minutes.
    const fs::path older = outFolder();
    Background heavy([=] {
        return call(pdf("heavy-page.pdf"), older / "h.png", nullptr, 72, 24, 5, 0, 0, 1, 1);
    });
    ASSERT_TRUE(waitUntil([] { return read().pagesInRange == 1; }, 60s));

    // Busy pages 3 to 10 of ten (the range clamped) into one TIFF: told, not the older call.
    const fs::path dir = outFolder();
    Background running([=] {
        return call(pdf("busy-pages.pdf"), dir / "b.tiff", nullptr, 100, 24, 5, 0, 1, 3, 99);
    });
    const std::vector<Reading> seen =
        watch(running, [](const Reading& r) { return r.pagesInRange != 1; });
    ASSERT_TRUE(running.returnedWithin(0ms));
    EXPECT_EQ(running.error(), 0);
    std::set<int32_t> counts;
    int32_t previous = 0;
    bool ordered = true, ranged = true, whole = true;
    for (const Reading& r : seen) {
        ordered = ordered && r.running == 1 && r.pagesDone >= previous;
        ranged = ranged && (r.pagesInRange == 8 || (r.pagesInRange == 0 && r.pagesDone == 0));
        whole = whole && r.bandThousandths == 0; // pages drawn whole tell no bands
        previous = r.pagesDone;
        counts.insert(r.pagesDone);
    }
    EXPECT_TRUE(ordered) << "the count of done pages went back, or no call was running";
    EXPECT_TRUE(ranged);
    EXPECT_TRUE(whole);
    EXPECT_GE(counts.size(), 4u) << "page counts seen: " << counts.size();
    EXPECT_LE(*counts.rbegin(), 8);

    // The older call is the latest still running again.
    const Reading back = read();
    EXPECT_EQ(back.running, 1);
    EXPECT_EQ(back.pagesInRange, 1);
    EXPECT_EQ(back.pagesDone, 0);
    cancel_();
    ASSERT_TRUE(heavy.returnedWithin(60s));
    EXPECT_EQ(heavy.error(), ECANCELED);

    const Reading after = read();
    EXPECT_EQ(after.running, 0);
    EXPECT_EQ(after.pagesDone, 0);
    EXPECT_EQ(after.pagesInRange, 0);
    EXPECT_EQ(after.bandThousandths, 0);
}

TEST_F(Progress, FollowsTheBandsOfAPageAsTheyAreDrawn) {
    // A busy page at 300 dpi (600 x 300 pixels) in bands of 16 KB: 34 bands of 9 rows. A colour
    // GIF reads them twice; its share still only grows.
    setenv("PX_BAND_KB", "16", 1);
    for (const char* target : {"b.png", "b.gif"}) {
        SCOPED_TRACE(target);
        const fs::path dir = outFolder();
        Background running([=] {
            return call(pdf("busy-pages.pdf"), dir / target, nullptr, 300, 24, 5, 0, 0, 1, 1);
        });
        const std::vector<Reading> seen =
            watch(running, [](const Reading& r) { return r.running == 1; });
        ASSERT_TRUE(running.returnedWithin(0ms));
        EXPECT_EQ(running.error(), 0);
        std::set<int32_t> partial;
        int32_t previous = 0;
        bool ordered = true;
        for (const Reading& r : seen) {
            if (r.pagesDone > 0)
                break; // done: the page no longer counts
            ordered = ordered && r.bandThousandths >= previous && r.bandThousandths <= 1000;
            previous = r.bandThousandths;
            if (r.bandThousandths > 0 && r.bandThousandths < 1000)
                partial.insert(r.bandThousandths);
        }
        EXPECT_TRUE(ordered) << "the drawn share went back or past the page";
        EXPECT_GE(partial.size(), 5u) << "shares seen: " << partial.size();
    }
    unsetenv("PX_BAND_KB");
}

} // namespace

namespace {

// The confined engine, made to try what a takeover of it would: each attempt fails, the call
// fails with EIO, and nothing is created or changed. The hooked engine is a test build of the
// companion; the shipped one is checked not to carry the hook.
class Sandbox : public Rasterize {
protected:
    static void SetUpTestSuite() {
        Rasterize::SetUpTestSuite();
        hooked_ = fs::path(PXRENDER_HOOKED_PATH).parent_path();
        fs::copy_file(PXRASTER_PATH, hooked_ / fs::path(PXRASTER_PATH).filename(),
                      fs::copy_options::overwrite_existing);
    }
    static void TearDownTestSuite() {
        useLibrary(PXRASTER_PATH);
        Rasterize::TearDownTestSuite();
    }
    static inline fs::path hooked_;
};

TEST_F(Sandbox, ForbiddenAttemptsFailWithEioAndCreateNothing) {
    const fs::path home = outFolder("home");
    fs::create_directories(home / ".ssh");
    std::ofstream(home / ".ssh" / "id_rsa") << "secret\n";
    // A listener on the loopback, to see that no connection arrives.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    // Read by the engine at its start, which comes with the first call of the hooked library.
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    setenv("PX_TEST_TCP_PORT", std::to_string(ntohs(address.sin_port)).c_str(), 1);
    ASSERT_TRUE(useLibrary(hooked_ / fs::path(PXRASTER_PATH).filename()));

    // The engine is confined once and serves every file after: the attempts come from the
    // same engine while it lives (the killed ones are replaced), the last one again at the end.
    const fs::path pdfs = outFolder("pdfs");
    for (const char* attempt : {"read-key", "write-beside", "create-outside", "create-in-output",
                                "shell", "tcp", "read-key"}) {
        SCOPED_TRACE(attempt);
        const fs::path source = pdfs / (std::string("attempt-") + attempt + ".pdf");
        fs::copy_file(pdf("three.pdf"), source, fs::copy_options::overwrite_existing);
        const fs::path dir = outFolder();
        EXPECT_EQ(call(source, dir / "p.png", nullptr, 72, 24, 5, 0, 0, 1, 3), EIO);
        EXPECT_EQ(files(dir), std::vector<std::string>{});
        EXPECT_EQ(fs::file_size(source), fs::file_size(pdf("three.pdf")));
    }
    EXPECT_FALSE(fs::exists(home / "created"));
    EXPECT_FALSE(fs::exists(home / "shell-ran"));
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0);
    ::close(listener);
    // The same engine converts a file that tries nothing, one page per file and all in one.
    const fs::path dir = outFolder();
    EXPECT_EQ(call(pdf("three.pdf"), dir / "p.png", nullptr, 72, 24, 5, 0, 0, 1, 3), 0);
    EXPECT_EQ(call(pdf("three.pdf"), dir / "all.tiff", nullptr, 72, 24, 5, 0, 1, 1, 3), 0);
    EXPECT_EQ(files(dir), (std::vector<std::string>{"all.tiff", "p-1.png", "p-2.png", "p-3.png"}));
    setenv("HOME", savedHome.c_str(), 1);
    unsetenv("PX_TEST_TCP_PORT");
}

TEST_F(Sandbox, ShippedEngineHasNoTestHook) {
    for (const char* engine : {PXRENDER_PATH, PXRENDER_HOOKED_PATH}) {
        const pxtest::RunResult nm = pxtest::run({"/usr/bin/nm", "-C", engine});
        ASSERT_EQ(nm.exitCode, 0) << nm.output;
        const bool hooked = nm.output.find("pxraster_forbidden_attempt") != std::string::npos;
        EXPECT_EQ(hooked, std::string(engine) == PXRENDER_HOOKED_PATH) << engine;
    }
}

} // namespace
