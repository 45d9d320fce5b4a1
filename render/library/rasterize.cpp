// PxRasterizePdf: renders a page range of one PDF into image files. Pages are rendered and
// encoded on one worker per core; each worker has its own MuPDF context clone and its own
// document, so no MuPDF object is ever shared between threads. The calling thread is the
// watchdog that aborts a page rendering for too long, or every page once PxCancelRasterize
// asks the calls running to stop.
#include "render/companion/pxcodec.h"
#include "render/library/outputnames.h"
#include "render/library/pdfcore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" __attribute__((visibility("default"))) int
PxRasterizePdf(const char* pdfPath, const char* targetPath, const char* password, int32_t zero,
               int32_t xDpi, int32_t yDpi, int32_t bitsPerPixel, int32_t tiffCompression,
               int32_t jpegQuality, int32_t grayscale, int32_t allInOne, int32_t firstPage,
               int32_t lastPage);
extern "C" __attribute__((visibility("default"))) void PxCancelRasterize(void);

namespace pxraster {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxDpi = 9600;
constexpr int kMaxSide = 65500;                     // what JPEG and the 16-bit formats can hold
constexpr size_t kMaxBitmapBytes = size_t{1} << 30; // refused before allocation
constexpr size_t kStoreBytes = size_t{64} << 20;    // MuPDF's shared resource cache
constexpr size_t kWorkerStack = size_t{16} << 20;   // room for deeply nested content
constexpr long kDefaultPageTimeoutMs = 120000;

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0) ? value : fallback;
}

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// Per-worker state the watchdog looks at.
struct Slot {
    fz_cookie cookie{};                 // MuPDF polls cookie.abort while it interprets
    std::atomic<long long> deadline{0}; // 0 while not rendering
    std::atomic<bool> timedOut{false};
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
    long timeoutMs = kDefaultPageTimeoutMs;
    fz_context* baseCtx = nullptr;

    std::atomic<int> nextPage{1};
    std::atomic<int> pagesWritten{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> cancelled{false};
    Job* nextRunning = nullptr; // see runningCalls

    std::mutex mutex; // guards everything below
    std::condition_variable changed;
    int error = 0;
    int finishedWorkers = 0;
    int nextToWrite = 1; // multi-page TIFF: pages are added strictly in order
    px_tiff_writer* tiff = nullptr;

    void fail(int code) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!error)
            error = code;
        stop = true;
        changed.notify_all();
    }

    // Wakes the watchdog, which aborts the pages in progress, and any worker waiting for its
    // turn in the multi-page TIFF.
    void cancel() {
        std::lock_guard<std::mutex> lock(mutex);
        cancelled = true;
        stop = true;
        changed.notify_all();
    }
};

// The calls in progress, linked through Job::nextRunning: a cancel reaches exactly the calls
// that run when it is made, never one started after it. No allocation, nothing to destroy at
// unload.
std::mutex runningMutex;
Job* runningCalls = nullptr;

class RunningCall {
public:
    explicit RunningCall(Job& job) : job_(job) {
        std::lock_guard<std::mutex> lock(runningMutex);
        job_.nextRunning = runningCalls;
        runningCalls = &job_;
    }
    ~RunningCall() {
        std::lock_guard<std::mutex> lock(runningMutex);
        for (Job** link = &runningCalls; *link; link = &(*link)->nextRunning) {
            if (*link == &job_) {
                *link = job_.nextRunning;
                break;
            }
        }
    }
    RunningCall(const RunningCall&) = delete;
    RunningCall& operator=(const RunningCall&) = delete;

private:
    Job& job_;
};

void cancelRunningCalls() {
    std::lock_guard<std::mutex> lock(runningMutex);
    for (Job* job = runningCalls; job; job = job->nextRunning)
        job->cancel();
}

int errnoForMuPdf(int code) {
    return code == FZ_ERROR_MEMORY ? ENOMEM : EINVAL;
}

// Renders one page into a new pixmap (*out). Returns 0 or an errno value.
int renderPage(fz_context* ctx, pdf_document* doc, int pageNumber, const Job& job, Slot& slot,
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
        __atomic_store_n(&slot.cookie.abort, 0, __ATOMIC_SEQ_CST);
        // A cancel whose abort the reset above may have wiped out.
        if (job.cancelled)
            __atomic_store_n(&slot.cookie.abort, 1, __ATOMIC_SEQ_CST);
        slot.deadline = nowMs() + job.timeoutMs;
        fz_try(ctx) {
            fz_run_page(ctx, page, dev, ctm, &slot.cookie);
            fz_close_device(ctx, dev);
        }
        fz_catch(ctx) {
            // Content that fails part-way keeps what was drawn, as in other viewers.
            if (fz_caught(ctx) == FZ_ERROR_MEMORY || fz_caught(ctx) == FZ_ERROR_ABORT)
                fz_rethrow(ctx);
        }
        slot.deadline = 0;
        if (job.grey) {
            fz_pixmap* rgb = pix;
            pix = nullptr;
            pix = pxpdf::greyFromRgb(ctx, rgb);
        }
    }
    fz_always(ctx) {
        slot.deadline = 0;
        fz_drop_device(ctx, dev);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx) {
        code = fz_caught(ctx);
    }

    int result = 0;
    if (job.cancelled)
        result = ECANCELED; // an aborted page may come back without an error, but unfinished
    else if (slot.timedOut)
        result = ETIME;
    else if (refused)
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

// One file per page, written under a temporary name and renamed when complete.
int writePageFile(const px_image& img, int pageNumber, const Job& job) {
    const std::string finalPath = pageFileName(job.target, pageNumber, job.pageCount);
    const std::string tempPath = temporaryName(finalPath);
    int rc = px_write_image(tempPath.c_str(), job.target.format.c_str(), &img, &job.options);
    if (rc == 0 && job.cancelled)
        rc = ECANCELED; // no new final file once the caller asked to stop
    if (rc == 0 && std::rename(tempPath.c_str(), finalPath.c_str()) != 0)
        rc = errno;
    if (rc)
        ::unlink(tempPath.c_str());
    return rc;
}

// Adds the page to the multi-page TIFF once every earlier page is in.
int addTiffPage(const px_image& img, int pageNumber, Job& job) {
    {
        std::unique_lock<std::mutex> lock(job.mutex);
        job.changed.wait(lock, [&] { return job.nextToWrite == pageNumber || job.stop; });
        if (job.nextToWrite != pageNumber)
            return 0; // stopped by a failure, which is reported, or by a cancel
    }
    const int rc = px_tiff_add_page(job.tiff, &img);
    std::lock_guard<std::mutex> lock(job.mutex);
    ++job.nextToWrite;
    job.changed.notify_all();
    return rc;
}

struct WorkerArgs {
    Job* job;
    Slot* slot;
    pdf_document* doc; // handed over (opened on the base context), or null: open our own
};

void runWorker(Job& job, Slot& slot, pdf_document* handed) {
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
        fz_pixmap* pix = nullptr;
        int rc = renderPage(ctx, doc, pageNumber, job, slot, &pix);
        if (rc == 0) {
            const px_image img = imageOf(ctx, pix, job);
            rc = job.multiPage ? addTiffPage(img, pageNumber, job)
                               : writePageFile(img, pageNumber, job);
            fz_drop_pixmap(ctx, pix);
        }
        if (rc)
            job.fail(rc);
        else if (!job.stop)
            ++job.pagesWritten; // a stopped multi-page TIFF skips the page without an error
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
        runWorker(job, *args->slot, args->doc);
    } catch (const std::bad_alloc&) {
        job.fail(ENOMEM);
    } catch (...) {
        job.fail(EIO);
    }
    std::lock_guard<std::mutex> lock(job.mutex);
    ++job.finishedWorkers;
    job.changed.notify_all();
    return nullptr;
}

// Waits for the workers, aborting any page that renders past its deadline, or every page once
// the call is cancelled.
void watch(Job& job, std::vector<std::unique_ptr<Slot>>& slots, int workers) {
    std::unique_lock<std::mutex> lock(job.mutex);
    while (job.finishedWorkers < workers) {
        job.changed.wait_for(lock, std::chrono::milliseconds(50));
        const long long now = nowMs();
        for (auto& slot : slots) {
            if (job.cancelled) {
                __atomic_store_n(&slot->cookie.abort, 1, __ATOMIC_SEQ_CST);
                continue;
            }
            const long long deadline = slot->deadline;
            if (deadline != 0 && now > deadline && !slot->timedOut) {
                slot->timedOut = true;
                __atomic_store_n(&slot->cookie.abort, 1, __ATOMIC_RELAXED);
            }
        }
    }
}

int startWorkers(Job& job, pdf_document* firstDoc, int workers,
                 std::vector<std::unique_ptr<Slot>>& slots, std::vector<pthread_t>& threads) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return ENOMEM;
    pthread_attr_setstacksize(&attr, kWorkerStack);
    int rc = 0;
    for (int i = 0; i < workers; ++i) {
        slots.push_back(std::make_unique<Slot>());
        auto* args = new WorkerArgs{&job, slots.back().get(), i == 0 ? firstDoc : nullptr};
        pthread_t thread;
        rc = pthread_create(&thread, &attr, workerEntry, args);
        if (rc != 0) {
            delete args;
            slots.pop_back();
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
        tiffTemp = temporaryName(job.target.base + "." + job.target.ext);
        const int rc = px_tiff_open(tiffTemp.c_str(), &job.options, &job.tiff);
        if (rc) {
            pdf_drop_document(job.baseCtx, doc);
            ::unlink(tiffTemp.c_str());
            return rc;
        }
    }
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<pthread_t> threads;
    const int rc =
        startWorkers(job, doc, pageWorkers(job.lastPage - firstPage + 1), slots, threads);
    if (threads.empty())
        pdf_drop_document(job.baseCtx, doc); // no worker took it over
    if (rc)
        job.fail(rc);
    watch(job, slots, static_cast<int>(threads.size()));
    for (pthread_t thread : threads)
        pthread_join(thread, nullptr);

    int error = job.cancelled ? ECANCELED : job.error;
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

int rasterize(const char* pdfPath, const char* targetPath, const char* password, int xDpi, int yDpi,
              int bitsPerPixel, int tiffCompression, int jpegQuality, int grayscale, int allInOne,
              int firstPage, int lastPage) {
    if (!pdfPath || !*pdfPath)
        return ENOENT;
    if (!targetPath || !*targetPath)
        return EINVAL;
    if (xDpi < 1 || yDpi < 1 || xDpi > kMaxDpi || yDpi > kMaxDpi)
        return EINVAL;
    if (bitsPerPixel != 24 && bitsPerPixel != 8 && bitsPerPixel != 1)
        return EINVAL;

    auto job = std::make_unique<Job>();
    const RunningCall running(*job);
    job->target = parseTarget(targetPath);
    if (job->target.format.empty())
        return EINVAL;
    job->pdfPath = pdfPath;
    job->xDpi = xDpi;
    job->yDpi = yDpi;
    job->xScale = static_cast<float>(xDpi) / 72.0f;
    job->yScale = static_cast<float>(yDpi) / 72.0f;
    job->grey = grayscale != 0 || bitsPerPixel != 24;
    job->multiPage = allInOne != 0 && job->target.format == "tiff";
    job->options.bits_per_pixel = bitsPerPixel;
    job->options.tiff_compression = tiffCompression;
    job->options.jpeg_quality = jpegQuality;
    job->options.grayscale = job->grey ? 1 : 0;
    job->timeoutMs = envNumber("PX_PAGE_TIMEOUT_MS", kDefaultPageTimeoutMs);

    ContextHolder holder;
    holder.lockContext = holder.locks.context();
    holder.ctx = pxpdf::newQuietContext(&holder.lockContext, kStoreBytes);
    if (!holder.ctx)
        return ENOMEM;
    job->baseCtx = holder.ctx;

    pxpdf::OpenResult opened = pxpdf::openPdf(holder.ctx, pdfPath, password);
    if (const int rc = mapOpenStatus(opened))
        return rc;
    job->password = opened.password;
    job->pageCount = pxpdf::flattenPageTree(holder.ctx, opened.doc);
    if (job->pageCount <= 0) {
        pdf_drop_document(holder.ctx, opened.doc);
        return EINVAL;
    }
    const int first = std::max(firstPage, 1);
    job->lastPage = std::min(lastPage, job->pageCount);
    if (first > job->lastPage) {
        pdf_drop_document(holder.ctx, opened.doc);
        return 0; // no page of the range is in the document
    }
    return renderRange(*job, opened.doc, first);
}

} // namespace
} // namespace pxraster

extern "C" int PxRasterizePdf(const char* pdfPath, const char* targetPath, const char* password,
                              int32_t /*zero*/, int32_t xDpi, int32_t yDpi, int32_t bitsPerPixel,
                              int32_t tiffCompression, int32_t jpegQuality, int32_t grayscale,
                              int32_t allInOne, int32_t firstPage, int32_t lastPage) {
    int rc = 0;
    try {
        rc = pxraster::rasterize(pdfPath, targetPath, password, xDpi, yDpi, bitsPerPixel,
                                 tiffCompression, jpegQuality, grayscale, allInOne, firstPage,
                                 lastPage);
    } catch (const std::bad_alloc&) {
        rc = ENOMEM;
    } catch (...) {
        rc = EIO;
    }
    errno = rc;
    return rc == 0 ? 0 : -1;
}

extern "C" void PxCancelRasterize(void) {
    try {
        pxraster::cancelRunningCalls();
    } catch (...) {
        // Locking failed: nothing is left to do, and nothing may escape into C code.
    }
}
