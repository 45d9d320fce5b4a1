// The rendering companion: a process the rendering library starts for each call, so that a page
// MuPDF never finishes, a runaway allocation or a crash costs this process and not the program.
// It reads one request from its channel, renders the range on one worker per core (each with its
// own MuPDF context clone and document, so no MuPDF object is shared between threads), writes
// the images and reports its progress and result as lines on the same channel. It never writes
// to stdout or stderr: the library hands it /dev/null for both.
#include "render/companion/pxcodec.h"
#include "render/library/envnumber.h"
#include "render/library/outputnames.h"
#include "render/library/pdfcore.h"
#include "render/library/protocol.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pxraster {
namespace {

constexpr int kMaxSide = 65500;                     // what JPEG and the 16-bit formats can hold
constexpr size_t kMaxBitmapBytes = size_t{1} << 30; // refused before allocation
constexpr size_t kStoreBytes = size_t{64} << 20;    // MuPDF's shared resource cache
constexpr size_t kWorkerStack = size_t{16} << 20;   // room for deeply nested content

// Lines to the library. A library that went away ends this process: nobody waits for the pages.
class Reporter {
public:
    void line(char kind, long value) {
        char text[32];
        const int n = std::snprintf(text, sizeof text, "%c %ld\n", kind, value);
        std::lock_guard<std::mutex> lock(mutex_);
        for (int sent = 0; sent < n;) {
            const ssize_t w =
                ::send(kChannelFd, text + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                _exit(3);
            sent += static_cast<int>(w);
        }
    }
    // Announced before the file is created, so a library that kills this process knows what
    // to remove. Hex, so a path may hold any byte, a line break too.
    void temporary(const std::string& path) {
        static const char digits[] = "0123456789abcdef";
        std::string text = "T ";
        for (unsigned char c : path) {
            text += digits[c >> 4];
            text += digits[c & 15];
        }
        text += '\n';
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t sent = 0; sent < text.size();) {
            const ssize_t w =
                ::send(kChannelFd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                _exit(3);
            sent += static_cast<size_t>(w);
        }
    }
    void range(int pageCount, int first, int last) {
        char text[64];
        const int n = std::snprintf(text, sizeof text, "R %d %d %d\n", pageCount, first, last);
        std::lock_guard<std::mutex> lock(mutex_);
        if (::send(kChannelFd, text, static_cast<size_t>(n), MSG_NOSIGNAL) != n)
            _exit(3);
    }

private:
    std::mutex mutex_;
};

struct Job {
    // Fixed before the workers start.
    std::string pdfPath;
    std::string password;
    Target target;
    int pageCount = 0;
    int lastPage = 0;
    float xScale = 1, yScale = 1;
    int xDpi = 72, yDpi = 72;
    bool grey = false;
    bool multiPage = false;
    px_options options{};
    fz_context* baseCtx = nullptr;
    Reporter* reporter = nullptr;

    std::atomic<int> nextPage{1};
    std::atomic<int> pagesWritten{0};
    std::atomic<bool> stop{false};

    std::mutex mutex; // guards everything below
    std::condition_variable changed;
    int error = 0;
    int nextToWrite = 1; // multi-page TIFF: pages are added strictly in order
    px_tiff_writer* tiff = nullptr;

    void fail(int code) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!error)
            error = code;
        stop = true;
        changed.notify_all();
    }
};

int errnoForMuPdf(int code) {
    return code == FZ_ERROR_MEMORY ? ENOMEM : EINVAL;
}

// Renders one page into a new pixmap (*out). Returns 0 or an errno value.
int renderPage(fz_context* ctx, pdf_document* doc, int pageNumber, const Job& job,
               fz_pixmap** out) {
    fz_page* page = nullptr;
    fz_device* dev = nullptr;
    fz_pixmap* pix = nullptr;
    int refused = 0;
    int code = FZ_ERROR_NONE;
    fz_var(page);
    fz_var(dev);
    fz_var(pix);
    fz_var(refused);
    fz_var(code);
    fz_try(ctx) {
        page = fz_load_page(ctx, &doc->super, pageNumber - 1);
        const fz_matrix ctm = fz_scale(job.xScale, job.yScale);
        const fz_irect box = fz_round_rect(fz_transform_rect(fz_bound_page(ctx, page), ctm));
        const long long w = static_cast<long long>(box.x1) - box.x0;
        const long long h = static_cast<long long>(box.y1) - box.y0;
        const int n = 3; // grey pages are made from the RGB rendering
        if (w <= 0 || h <= 0)
            refused = EINVAL;
        else if (w > kMaxSide || h > kMaxSide ||
                 static_cast<size_t>(w) * static_cast<size_t>(h) * n > kMaxBitmapBytes)
            refused = EFBIG;
        if (refused)
            fz_throw(ctx, FZ_ERROR_GENERIC, "page bitmap refused");
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), box, nullptr, 0);
        fz_set_pixmap_resolution(ctx, pix, job.xDpi, job.yDpi);
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        fz_try(ctx) {
            fz_run_page(ctx, page, dev, ctm, nullptr);
            fz_close_device(ctx, dev);
        }
        fz_catch(ctx) {
            // Content that fails part-way keeps what was drawn, as in other viewers.
            if (fz_caught(ctx) == FZ_ERROR_MEMORY || fz_caught(ctx) == FZ_ERROR_ABORT)
                fz_rethrow(ctx);
        }
        if (job.grey) {
            fz_pixmap* rgb = pix;
            pix = nullptr;
            pix = pxpdf::greyFromRgb(ctx, rgb);
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx) {
        code = fz_caught(ctx);
    }

    int result = 0;
    if (refused)
        result = refused;
    else if (code != FZ_ERROR_NONE)
        result = errnoForMuPdf(code);
    if (result) {
        fz_drop_pixmap(ctx, pix);
        return result;
    }
    *out = pix;
    return 0;
}

px_image imageOf(fz_context* ctx, fz_pixmap* pix, const Job& job) {
    px_image img{};
    img.width = fz_pixmap_width(ctx, pix);
    img.height = fz_pixmap_height(ctx, pix);
    img.components = fz_pixmap_components(ctx, pix);
    img.stride = fz_pixmap_stride(ctx, pix);
    img.samples = fz_pixmap_samples(ctx, pix);
    img.xdpi = job.xDpi;
    img.ydpi = job.yDpi;
    return img;
}

// Writes through `write` to a fresh temporary name beside finalPath, created exclusively (never
// through anything planted there); another name is drawn while one is taken. Sets *tempPath.
int writeTemporary(const std::string& finalPath, Reporter& reporter, std::string* tempPath,
                   const std::function<int(const std::string&)>& write) {
    int rc = EEXIST;
    for (int attempt = 0; attempt < 16 && rc == EEXIST; ++attempt) {
        *tempPath = temporaryName(finalPath);
        reporter.temporary(*tempPath);
        rc = write(*tempPath);
    }
    return rc;
}

// One file per page, written under a temporary name and renamed when complete: the program
// counts only final names, and the library removes the temporary one if this process is killed.
// The rename replaces whatever stands at the final name; nothing is written through it.
int writePageFile(const px_image& img, int pageNumber, const Job& job) {
    const std::string finalPath = pageFileName(job.target, pageNumber, job.pageCount);
    std::string tempPath;
    int rc = writeTemporary(finalPath, *job.reporter, &tempPath, [&](const std::string& path) {
        return px_write_image(path.c_str(), job.target.format.c_str(), &img, &job.options);
    });
    if (rc == 0 && std::rename(tempPath.c_str(), finalPath.c_str()) != 0)
        rc = errno;
    if (rc && rc != EEXIST)
        ::unlink(tempPath.c_str());
    return rc;
}

// Adds the page to the multi-page TIFF once every earlier page is in.
int addTiffPage(const px_image& img, int pageNumber, Job& job) {
    {
        std::unique_lock<std::mutex> lock(job.mutex);
        job.changed.wait(lock, [&] { return job.nextToWrite == pageNumber || job.stop; });
        if (job.nextToWrite != pageNumber)
            return 0; // stopped by a failure, which is reported
    }
    const int rc = px_tiff_add_page(job.tiff, &img);
    std::lock_guard<std::mutex> lock(job.mutex);
    ++job.nextToWrite;
    job.changed.notify_all();
    return rc;
}

struct WorkerArgs {
    Job* job;
    pdf_document* doc; // handed over (opened on the base context), or null: open our own
};

void runWorker(Job& job, pdf_document* handed) {
    fz_context* ctx = fz_clone_context(job.baseCtx);
    if (!ctx) {
        job.fail(ENOMEM);
        return;
    }
    pxpdf::silence(ctx);
    pdf_document* doc = handed ? handed : pxpdf::reopenPdf(ctx, job.pdfPath.c_str(), job.password);
    if (!doc)
        job.fail(EINVAL);
    while (doc && !job.stop) {
        const int pageNumber = job.nextPage.fetch_add(1);
        if (pageNumber > job.lastPage)
            break;
        job.reporter->line('B', pageNumber);
        fz_pixmap* pix = nullptr;
        int rc = renderPage(ctx, doc, pageNumber, job, &pix);
        if (rc == 0) {
            const px_image img = imageOf(ctx, pix, job);
            rc = job.multiPage ? addTiffPage(img, pageNumber, job)
                               : writePageFile(img, pageNumber, job);
            fz_drop_pixmap(ctx, pix);
        }
        if (rc) {
            job.fail(rc);
        } else if (!job.stop) {
            ++job.pagesWritten; // a stopped multi-page TIFF skips the page without an error
            job.reporter->line('D', pageNumber);
        }
    }
    fz_try(ctx) {
        pdf_drop_document(ctx, doc);
    }
    fz_catch(ctx) {}
    fz_drop_context(ctx);
}

void* workerEntry(void* raw) {
    std::unique_ptr<WorkerArgs> args(static_cast<WorkerArgs*>(raw));
    Job& job = *args->job;
    try {
        runWorker(job, args->doc);
    } catch (const std::bad_alloc&) {
        job.fail(ENOMEM);
    } catch (...) {
        job.fail(EIO);
    }
    return nullptr;
}

int startWorkers(Job& job, pdf_document* firstDoc, int workers, std::vector<pthread_t>& threads) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return ENOMEM;
    pthread_attr_setstacksize(&attr, kWorkerStack);
    int rc = 0;
    for (int i = 0; i < workers; ++i) {
        auto* args = new WorkerArgs{&job, i == 0 ? firstDoc : nullptr};
        pthread_t thread;
        rc = pthread_create(&thread, &attr, workerEntry, args);
        if (rc != 0) {
            delete args;
            break;
        }
        threads.push_back(thread);
    }
    pthread_attr_destroy(&attr);
    if (threads.empty())
        return rc == EAGAIN ? ENOMEM : rc;
    return 0;
}

int pageWorkers(int pages) {
    const long cores =
        envNumber("PX_RENDER_THREADS", std::max(1u, std::thread::hardware_concurrency()));
    return static_cast<int>(std::min<long>(cores, pages));
}

int mapOpenStatus(const pxpdf::OpenResult& opened) {
    switch (opened.status) {
    case pxpdf::OpenStatus::Ok:
        return 0;
    case pxpdf::OpenStatus::NotFound:
        return ENOENT;
    case pxpdf::OpenStatus::NoAccess:
    case pxpdf::OpenStatus::NeedsPassword:
        return EACCES;
    case pxpdf::OpenStatus::NoMemory:
        return ENOMEM;
    case pxpdf::OpenStatus::Damaged:
        break;
    }
    return EINVAL;
}

struct ContextHolder {
    pxpdf::Locks locks;
    fz_locks_context lockContext{};
    fz_context* ctx = nullptr;
    ~ContextHolder() { fz_drop_context(ctx); }
};

// Renders the clamped range with the opened document; takes ownership of `doc`.
int renderRange(Job& job, pdf_document* doc, int firstPage) {
    job.nextPage = firstPage;
    job.nextToWrite = firstPage;
    std::string tiffTemp;
    if (job.multiPage) {
        const int rc =
            writeTemporary(job.target.base + "." + job.target.ext, *job.reporter, &tiffTemp,
                           [&](const std::string& path) {
                               return px_tiff_open(path.c_str(), &job.options, &job.tiff);
                           });
        if (rc) {
            pdf_drop_document(job.baseCtx, doc);
            if (rc != EEXIST)
                ::unlink(tiffTemp.c_str());
            return rc;
        }
    }
    std::vector<pthread_t> threads;
    const int rc = startWorkers(job, doc, pageWorkers(job.lastPage - firstPage + 1), threads);
    if (threads.empty())
        pdf_drop_document(job.baseCtx, doc); // no worker took it over
    if (rc)
        job.fail(rc);
    for (pthread_t thread : threads)
        pthread_join(thread, nullptr);

    int error = job.error;
    if (!error && job.pagesWritten != job.lastPage - firstPage + 1)
        error = EIO; // success means every page of the range is in
    if (job.multiPage) {
        if (error) {
            px_tiff_abort(job.tiff);
        } else {
            error = px_tiff_close(job.tiff);
            const std::string finalPath = job.target.base + "." + job.target.ext;
            if (!error && std::rename(tiffTemp.c_str(), finalPath.c_str()) != 0)
                error = errno;
        }
        job.tiff = nullptr;
        if (error)
            ::unlink(tiffTemp.c_str());
    }
    return error;
}

int rasterize(const Request& request, Reporter& reporter) {
    auto job = std::make_unique<Job>();
    job->reporter = &reporter;
    job->target = parseTarget(request.targetPath);
    if (job->target.format.empty())
        return EINVAL;
    job->pdfPath = request.pdfPath;
    job->xDpi = request.xDpi;
    job->yDpi = request.yDpi;
    job->xScale = static_cast<float>(request.xDpi) / 72.0f;
    job->yScale = static_cast<float>(request.yDpi) / 72.0f;
    job->grey = request.grayscale != 0 || request.bitsPerPixel != 24;
    job->multiPage = request.allInOne != 0 && job->target.format == "tiff";
    job->options.bits_per_pixel = request.bitsPerPixel;
    job->options.tiff_compression = request.tiffCompression;
    job->options.jpeg_quality = request.jpegQuality;
    job->options.grayscale = job->grey ? 1 : 0;
    job->options.exclusive = 1;

    ContextHolder holder;
    holder.lockContext = holder.locks.context();
    holder.ctx = pxpdf::newQuietContext(&holder.lockContext, kStoreBytes);
    if (!holder.ctx)
        return ENOMEM;
    job->baseCtx = holder.ctx;

    pxpdf::OpenResult opened =
        pxpdf::openPdf(holder.ctx, request.pdfPath.c_str(),
                       request.hasPassword ? request.password.c_str() : nullptr);
    if (const int rc = mapOpenStatus(opened))
        return rc;
    job->password = opened.password;
    job->pageCount = pxpdf::flattenPageTree(holder.ctx, opened.doc);
    if (job->pageCount <= 0) {
        pdf_drop_document(holder.ctx, opened.doc);
        return EINVAL;
    }
    const int first = std::max(request.firstPage, 1);
    job->lastPage = std::min(request.lastPage, job->pageCount);
    if (first > job->lastPage) {
        pdf_drop_document(holder.ctx, opened.doc);
        return 0; // no page of the range is in the document
    }
    reporter.range(job->pageCount, first, job->lastPage);
    return renderRange(*job, opened.doc, first);
}

bool readRequest(Request& request) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(kChannelFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > (size_t{1} << 20))
            return false;
    }
    return decodeRequest(text, request);
}

} // namespace
} // namespace pxraster

int main() {
    // Killed with the library's process, so it never renders for nobody.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A file size limit must fail the write (EFBIG), not kill the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    pxraster::Request request;
    if (!pxraster::readRequest(request))
        return 2;
    pxraster::Reporter reporter;
    int rc = 0;
    try {
        rc = pxraster::rasterize(request, reporter);
    } catch (const std::bad_alloc&) {
        rc = ENOMEM;
    } catch (...) {
        rc = EIO;
    }
    reporter.line('X', rc);
    return 0;
}
