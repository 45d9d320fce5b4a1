// The rendering companion: a process the rendering library starts and keeps for the calls of
// one thread, so that a page MuPDF never finishes, a runaway allocation or a crash costs this
// process and not the program. It reads one request after another from its channel, renders
// each range on one worker per core (each with its own MuPDF context clone and document, so no
// MuPDF object is shared between threads), writes the images and reports its progress and
// result as lines on the same channel. Between requests it holds no document and an empty
// cache. It never writes to stdout or stderr: the library hands it /dev/null for both. It
// confines itself once, at its start (sandbox.h): the PDF and every image file come to it as
// descriptors the library opened, so it needs to open nothing of the user's.
#include "render/common/envnumber.h"
#include "render/common/outputnames.h"
#include "render/common/passfd.h"
#include "render/common/pdfcore.h"
#include "render/common/protocol.h"
#include "render/companion/allocwatch.h"
#include "render/companion/pageraster.h"
#include "render/companion/pxcodec.h"
#include "render/companion/rest.h"
#include "render/companion/sandbox.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef PX_SANDBOX_TEST_HOOK
#include <fcntl.h>
#include <netinet/in.h>
#endif

namespace pxraster {
namespace {

constexpr size_t kStoreBytes = size_t{64} << 20;  // MuPDF's shared resource cache
constexpr size_t kWorkerStack = size_t{16} << 20; // room for deeply nested content
// Pages up to four bands' worth are drawn whole (an A4 page at 600 dpi is 104 MB); larger
// ones in bands. The budget bounds what all workers' bitmaps hold together.
constexpr long kDefaultBandKb = 32 * 1024;
constexpr long kDefaultBudgetMb = 512;
constexpr size_t kKeptBufferBytes = size_t{32} << 20; // a worker's bitmap kept between pages

// A file drew a page too large to keep its bitmap: the memory goes back to the system after it.
std::atomic<bool> trimAfterRequest{false};

// The library's process is gone: nobody waits for the pages, and whatever files this process
// was writing were never named (the library names each one when it is complete).
[[noreturn]] void endForNobody() {
    _exit(3);
}

// Lines to the library. A library that went away ends this process: nobody waits for the pages.
class Reporter {
public:
    void send(const Report& report) {
        const std::string line = encodeReport(report);
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t sent = 0; sent < line.size();) {
            const ssize_t w =
                ::send(kChannelFd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                endForNobody();
            sent += static_cast<size_t>(w);
        }
    }

    // Asks the library for a file (OpenFile: *fd is set) or to keep one (KeepFile), and waits
    // for its answer: 0 or an errno value. One question at a time, so each answer is the
    // answer to the question in hand; the library sends nothing else during a request.
    int ask(const Report& question, int* fd) {
        std::lock_guard<std::mutex> asking(askMutex_);
        send(question);
        std::string answer;
        std::vector<int> fds;
        while (answer.empty() || answer.back() != '\n') {
            char byte = 0;
            const ssize_t n = receiveWithFds(kChannelFd, &byte, 1, fds);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || answer.size() > 16)
                endForNobody();
            answer += byte;
        }
        int32_t error = 0;
        if (!decodeAnswer(answer, error) || (error == 0 && fd && fds.size() != 1))
            error = EIO;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (error == 0 && fd && i == 0)
                *fd = fds[0];
            else
                ::close(fds[i]);
        }
        return error;
    }

private:
    std::mutex mutex_;
    std::mutex askMutex_;
};

struct Job {
    // Fixed before the workers start.
    int pdfFd = -1;
    std::string password;
    Target target;
    int pageCount = 0;
    int lastPage = 0;
    RasterSettings raster;
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
    size_t budget = 0; // bytes the workers' bitmaps may hold together
    size_t budgetUsed = 0;

    // Waits on `changed` until `ready`. A page waiting for others is not stuck itself, so its
    // time limit is restarted every second; the page it waits for keeps its own.
    template <typename Ready>
    void waitFor(std::unique_lock<std::mutex>& lock, int pageNumber, Ready ready) {
        while (!changed.wait_for(lock, std::chrono::seconds(1), ready))
            reporter->send(Report::busy(pageNumber));
    }

    void fail(int code) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!error)
            error = code;
        stop = true;
        changed.notify_all();
    }
};

// A share of the memory budget, held while a page is drawn and written. A request waits while
// others hold the budget; one alone always proceeds, and so does the page whose turn it is in a
// multi-page TIFF (the pages holding the rest wait for it).
class Reservation {
public:
    Reservation(Job& job, int pageNumber, size_t bytes) : job_(job), bytes_(bytes) {
        std::unique_lock<std::mutex> lock(job.mutex);
        job.waitFor(lock, pageNumber, [&] {
            return job.stop || job.budgetUsed == 0 || job.budgetUsed + bytes <= job.budget ||
                   (job.multiPage && job.nextToWrite == pageNumber);
        });
        job.budgetUsed += bytes;
    }
    ~Reservation() {
        std::lock_guard<std::mutex> lock(job_.mutex);
        job_.budgetUsed -= bytes_;
        job_.changed.notify_all();
    }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

private:
    Job& job_;
    size_t bytes_;
};

// One file per page, created unnamed by the library and named by it once complete: the program
// counts only final names, and a file whose writing failed or was cut short never gets one.
int writePageFile(const px_image& img, int pageNumber, const Job& job) {
    int fd = -1;
    int rc = job.reporter->ask(Report::openFile(pageNumber), &fd);
    if (rc == 0)
        rc = px_write_image_fd(fd, job.target.format.c_str(), &img, &job.options);
    if (rc == 0)
        rc = job.reporter->ask(Report::keepFile(pageNumber), nullptr);
    return rc;
}

// Adds the page to the multi-page TIFF once every earlier page is in.
int addTiffPage(const px_image& img, int pageNumber, Job& job) {
    {
        std::unique_lock<std::mutex> lock(job.mutex);
        job.waitFor(lock, pageNumber, [&] { return job.nextToWrite == pageNumber || job.stop; });
        if (job.nextToWrite != pageNumber)
            return 0; // stopped by a failure, which is reported
    }
    const int rc = px_tiff_add_page(job.tiff, &img);
    std::lock_guard<std::mutex> lock(job.mutex);
    ++job.nextToWrite;
    job.changed.notify_all();
    return rc;
}

// Draws the page and hands it to its writer: a whole page first drawn, then written; a page
// in bands drawn band by band as the writer asks (its time limit restarts with each band).
int renderAndWrite(fz_context* ctx, pdf_document* doc, int pageNumber, Job& job,
                   pxcodec::RawBuffer& buffer) {
    PageRaster raster(
        ctx, job.raster, buffer, [&job] { return job.stop.load(); },
        [&job, pageNumber](int bandsDone, int bandCount) {
            job.reporter->send(Report::busy(pageNumber, bandsDone, bandCount));
        });
    int rc = raster.load(doc, pageNumber);
    if (rc == 0)
        rc =
            px_check_size(job.target.format.c_str(), &job.options, raster.width(), raster.height());
    if (rc)
        return rc;
    Reservation reserved(job, pageNumber, raster.memoryBytes());
    if (job.stop)
        return 0;
    rc = raster.draw();
    if (rc)
        return rc;
    const px_image img = raster.image(job.raster.xDpi, job.raster.yDpi);
    rc = job.multiPage ? addTiffPage(img, pageNumber, job) : writePageFile(img, pageNumber, job);
    return raster.bandError() ? raster.bandError() : rc;
}

void dropDocument(fz_context* ctx, pdf_document* doc) {
    fz_try(ctx) {
        pdf_drop_document(ctx, doc);
    }
    fz_catch(ctx) {}
}

void runWorker(Job& job, pdf_document* handed) {
    fz_context* ctx = fz_clone_context(job.baseCtx);
    if (!ctx) {
        job.fail(ENOMEM);
        return;
    }
    pxpdf::silence(ctx);
    const unsigned long failedBefore = failedAllocations();
    pdf_document* doc = handed ? handed : pxpdf::reopenPdf(ctx, job.pdfFd, job.password);
    if (!doc)
        job.fail(failedAllocations() != failedBefore ? ENOMEM : EINVAL);
    // Kept by the pool thread from file to file: fresh memory costs a page fault every 4 KB.
    thread_local pxcodec::RawBuffer buffer;
    while (doc && !job.stop) {
        const int pageNumber = job.nextPage.fetch_add(1);
        if (pageNumber > job.lastPage)
            break;
        job.reporter->send(Report::busy(pageNumber));
        int rc = renderAndWrite(ctx, doc, pageNumber, job, buffer);
        // Kept for the next page while it is page-sized; a huge one is not held on to.
        if (buffer.size() > kKeptBufferBytes) {
            buffer.release();
            trimAfterRequest = true;
        }
        if (rc) {
            job.fail(rc);
        } else if (!job.stop) {
            ++job.pagesWritten; // a stopped multi-page TIFF skips the page without an error
            job.reporter->send(Report::done(pageNumber));
        }
    }
    dropDocument(ctx, doc);
    fz_drop_context(ctx);
}

// The worker threads, kept for the life of the process: their bitmaps and the encoders'
// buffers stay with them from file to file. run() hands a task to some of them and waits.
class WorkerPool {
public:
    // Runs task(0) ... task(count - 1), each on a pool thread of its own, and returns once all
    // returned: how many ran, fewer when no more threads could be started (0: none at all).
    int run(int count, const std::function<void(int)>& task) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (threads_ < count && startThread())
            ++threads_;
        count = std::min(count, threads_);
        if (count == 0)
            return 0;
        task_ = &task;
        wanted_ = count;
        taken_ = 0;
        finished_ = 0;
        work_.notify_all();
        done_.wait(lock, [&] { return finished_ == wanted_; });
        task_ = nullptr;
        wanted_ = 0;
        return count;
    }

private:
    bool startThread() {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0)
            return false;
        pthread_attr_setstacksize(&attr, kWorkerStack);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        const bool started = pthread_create(&thread, &attr, &WorkerPool::entry, this) == 0;
        pthread_attr_destroy(&attr);
        return started;
    }

    static void* entry(void* self) {
        static_cast<WorkerPool*>(self)->serve();
        return nullptr;
    }

    [[noreturn]] void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return taken_ < wanted_; });
            const int index = taken_++;
            const std::function<void(int)>& task = *task_;
            lock.unlock();
            task(index);
            lock.lock();
            if (++finished_ == wanted_)
                done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_, done_;
    const std::function<void(int)>* task_ = nullptr;
    int wanted_ = 0, taken_ = 0, finished_ = 0;
    int threads_ = 0;
};

WorkerPool& workerPool() {
    static WorkerPool* const pool = new WorkerPool; // never destroyed: its threads never end
    return *pool;
}

// Runs the workers of the job; the first takes over `firstDoc`. 0, or ENOMEM when not even
// one worker could start (the document is then still the caller's).
int runWorkers(Job& job, pdf_document* firstDoc, int workers) {
    const std::function<void(int)> work = [&job, firstDoc](int index) {
        try {
            runWorker(job, index == 0 ? firstDoc : nullptr);
        } catch (const std::bad_alloc&) {
            job.fail(ENOMEM);
        } catch (...) {
            job.fail(EIO);
        }
    };
    return workerPool().run(workers, work) > 0 ? 0 : ENOMEM;
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
    if (job.multiPage) {
        int fd = -1;
        int rc = job.reporter->ask(Report::openFile(0), &fd);
        if (rc == 0)
            rc = px_tiff_open_fd(fd, &job.options, &job.tiff);
        if (rc) {
            pdf_drop_document(job.baseCtx, doc);
            return rc;
        }
    }
    if (const int rc = runWorkers(job, doc, pageWorkers(job.lastPage - firstPage + 1))) {
        pdf_drop_document(job.baseCtx, doc); // no worker took it over
        job.fail(rc);
    }

    int error = job.error;
    if (!error && job.pagesWritten != job.lastPage - firstPage + 1)
        error = EIO; // success means every page of the range is in
    if (job.multiPage) {
        if (error) {
            px_tiff_abort(job.tiff);
        } else {
            error = px_tiff_close(job.tiff);
            if (!error)
                error = job.reporter->ask(Report::keepFile(0), nullptr);
        }
        job.tiff = nullptr;
    }
    return error;
}

// The pixel area of a page from its dictionary, without loading it; an empty rectangle when the
// page cannot be measured so.
fz_rect measurePage(fz_context* ctx, pdf_document* doc, int pageNumber,
                    const RasterSettings& settings) {
    fz_rect area = fz_empty_rect;
    fz_var(area);
    fz_try(ctx) {
        fz_rect bounds;
        fz_matrix pageCtm;
        // The tree is flat after flattenPageTree: the page is the n-th kid of the root.
        pdf_obj* kids = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages/Kids");
        pdf_page_obj_transform(ctx, pdf_array_get(ctx, kids, pageNumber - 1), &bounds, &pageCtm);
        area = pageArea(fz_transform_rect(bounds, pageCtm), settings);
    }
    fz_catch(ctx) {
        area = fz_empty_rect;
    }
    return area;
}

// Before any page is drawn: refuses a range with a page beyond any use or one the format cannot
// hold (EFBIG), and chooses BigTIFF for a multi-page TIFF that may pass 4 GiB. Pages that cannot
// be measured here are measured again when they are drawn.
int checkPageSizes(fz_context* ctx, pdf_document* doc, int first, Job& job) {
    const char* ext = job.target.format.c_str();
    unsigned long long stored = 0;
    int rc = 0;
    for (int page = first; page <= job.lastPage && rc == 0; ++page) {
        const fz_rect area = measurePage(ctx, doc, page, job.raster);
        if (beyondAnyUse(area)) {
            rc = EFBIG;
            break;
        }
        const fz_irect box = fz_round_rect(area);
        const long long w = static_cast<long long>(box.x1) - box.x0;
        const long long h = static_cast<long long>(box.y1) - box.y0;
        if (w > INT_MAX || h > INT_MAX) {
            rc = EFBIG;
        } else if (w > 0 && h > 0) {
            const int iw = static_cast<int>(w), ih = static_cast<int>(h);
            rc = px_check_size(ext, &job.options, iw, ih) == EFBIG ? EFBIG : 0;
            stored += px_stored_bytes(ext, &job.options, iw, ih);
        }
    }

    if (job.multiPage && px_tiff_needs_big(stored))
        job.options.big_tiff = 1;
    return rc;
}

int rasterize(const Request& request, int pdfFd, Reporter& reporter, fz_context* baseCtx) {
    auto job = std::make_unique<Job>();
    job->reporter = &reporter;
    job->target = parseTarget(request.targetPath);
    if (job->target.format.empty())
        return EINVAL;
    job->pdfFd = pdfFd;
    const bool grey = request.grayscale != 0 || request.bitsPerPixel != 24;
    job->raster.xDpi = request.xDpi;
    job->raster.yDpi = request.yDpi;
    job->raster.xScale = static_cast<float>(request.xDpi) / 72.0f;
    job->raster.yScale = static_cast<float>(request.yDpi) / 72.0f;
    job->raster.bandBytes = static_cast<size_t>(envNumber("PX_BAND_KB", kDefaultBandKb)) << 10;
    job->raster.wholeBytes = 4 * job->raster.bandBytes;
    job->budget = static_cast<size_t>(envNumber("PX_BITMAP_BUDGET_MB", kDefaultBudgetMb)) << 20;
    job->multiPage = request.allInOne != 0 && job->target.format == "tiff";
    job->options.bits_per_pixel = request.bitsPerPixel;
    job->options.tiff_compression = request.tiffCompression;
    job->options.jpeg_quality = request.jpegQuality;
    job->options.grayscale = grey ? 1 : 0;
    job->raster.bandPasses = std::max(1, px_band_passes(job->target.format.c_str(), &job->options));

    if (!baseCtx)
        return ENOMEM;
    job->baseCtx = baseCtx;

    // MuPDF takes some failed allocations for damage: a file it then gives up on, or whose page
    // tree it reads only in part, failed for memory.
    unsigned long failedBefore = failedAllocations();
    if (pdfFd < 0)
        return EBADF; // the library always sends one
    pxpdf::OpenResult opened =
        pxpdf::openPdf(baseCtx, pdfFd, request.hasPassword ? request.password.c_str() : nullptr);
    if (const int rc = mapOpenStatus(opened))
        return rc == EINVAL && failedAllocations() != failedBefore ? ENOMEM : rc;
    job->password = opened.password;
    failedBefore = failedAllocations();
    job->pageCount = pxpdf::flattenPageTree(baseCtx, opened.doc);
    const bool ranOut =
        job->pageCount == pxpdf::kTreeOutOfMemory || failedAllocations() != failedBefore;
    if (job->pageCount <= 0 || ranOut) {
        pdf_drop_document(baseCtx, opened.doc);
        return ranOut ? ENOMEM : EINVAL;
    }
    reporter.send(Report::pages(job->pageCount));
    const int first = std::max(request.firstPage, 1);
    job->lastPage = std::min(request.lastPage, job->pageCount);
    if (first > job->lastPage) {
        pdf_drop_document(baseCtx, opened.doc);
        return 0; // no page of the range is in the document
    }
    if (const int rc = checkPageSizes(baseCtx, opened.doc, first, *job)) {
        pdf_drop_document(baseCtx, opened.doc);
        return rc;
    }
    reporter.send(Report::range(job->pageCount, first, job->lastPage));
    return renderRange(*job, opened.doc, first);
}

enum class Next { Request, End, Garbled };

// Descriptors that came with the bytes in `pending`: each request's PDF rides on its first byte.
std::vector<int> pendingFds;

// The next request off the channel, and the PDF's descriptor that came with it (-1: none).
// Garbled for one this build cannot read, one of another protocol version too: the library then
// sees no result and fails the call.
Next readRequest(std::string& pending, Request& request, int* pdfFd) {
    for (;;) {
        switch (takeRequest(pending, request)) {
        case Framing::Complete:
            *pdfFd = pendingFds.empty() ? -1 : pendingFds.front();
            for (size_t i = 1; i < pendingFds.size(); ++i)
                ::close(pendingFds[i]);
            pendingFds.clear();
            return Next::Request;
        case Framing::Garbled:
            return Next::Garbled;
        case Framing::Incomplete:
            break;
        }
        char buffer[4096];
        const ssize_t n = receiveWithFds(kChannelFd, buffer, sizeof buffer, pendingFds);
        if (n < 0 && errno == EINTR)
            continue;
        // A caller that let go without reading our last words resets the channel: an end too.
        if (n <= 0)
            return pending.empty() && (n == 0 || errno == ECONNRESET) ? Next::End : Next::Garbled;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

// What a finished request leaves behind goes before the next: the memory held between files
// stays that of an idle process however many files it has drawn.
void forgetRequest(fz_context* ctx) {
    if (ctx)
        fz_empty_store(ctx);
    if (trimAfterRequest.exchange(false))
        malloc_trim(0);
}

// Whether a request is in hand, and whether this companion has rested (and may now serve a
// caller that is not its parent). The watcher reads both; the main thread wakes it when they
// change.
std::atomic<bool> busy{false};
std::atomic<bool> rested{false};
int watcherWake = -1;
bool mayRest = false;
pid_t firstParent = 0;

void wakeWatcher() {
    const uint64_t one = 1;
    if (watcherWake >= 0) [[maybe_unused]]
        const ssize_t n = ::write(watcherWake, &one, sizeof one);
}

// Waits until the library's process is gone (its end of the channel closes, or the death
// signal comes) while this process works for it, then ends this
// process, so that it never renders for nobody and leaves nothing behind. A companion that may
// rest leaves an idle channel's end to the main thread, which then rests; the parent's death
// no longer concerns it once it has rested.
void watchCaller(int deathSignals) {
    for (;;) {
        const bool watchChannel = !mayRest || busy.load();
        pollfd watched[3] = {{watchChannel ? kChannelFd : -1, 0, 0},
                             {deathSignals, POLLIN, 0},
                             {watcherWake, POLLIN, 0}};
        const int ready = ::poll(watched, 3, -1);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (watched[2].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(watcherWake, &count, sizeof count);
            continue;
        }
        if (watched[1].revents != 0) {
            signalfd_siginfo info{};
            if (::read(deathSignals, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
                break;
            // The parent-death signal comes from the parent; anyone else's SIGTERM ends us.
            const bool parentDied = static_cast<pid_t>(info.ssi_pid) == firstParent;
            if (mayRest && parentDied && (rested.load() || !busy.load()))
                continue;
            break;
        }
        if ((watched[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            if (!mayRest)
                break;
            // Idle, the main thread reads the end and rests. The end seen may also be that of
            // a channel the main thread has replaced since: only the present one counts.
            pollfd present{kChannelFd, 0, 0};
            if (busy.load() && ::poll(&present, 1, 0) > 0)
                break;
        }
    }
    endForNobody();
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Confined once, before any thread starts (Landlock holds the calling thread and those it
// starts), and after the descriptors it keeps are made. Built-in fonts need no confinement of
// their own: MuPDF has them in its data.
void confine(const char* restPath) {
    if (sandboxDisabled())
        return;
    // A kernel that refuses a step it has leaves the engine with the steps before it: a
    // conversion is never refused for the sandbox (the program tells what the kernel lacks).
    [[maybe_unused]] const int rc =
        enterSandbox(engineFolder(), mayRest && restPath ? folderOf(restPath) : std::string());
}

// The parent's death arrives as SIGTERM, blocked in every thread and read by the watcher. When
// the watcher cannot run, the death signal kills outright, as it must in any case. The process
// is confined between making the watcher's descriptors and starting it.
void startWatchingCaller(const char* restPath) {
    sigset_t death;
    sigemptyset(&death);
    sigaddset(&death, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &death, nullptr);
    const int deathSignals = signalfd(-1, &death, SFD_CLOEXEC);
    firstParent = ::getppid();
    prctl(PR_SET_PDEATHSIG, deathSignals >= 0 ? SIGTERM : SIGKILL);
    if (mayRest) {
        watcherWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        mayRest = watcherWake >= 0 && deathSignals >= 0;
    }
    confine(restPath);
    try {
        std::thread(watchCaller, deathSignals).detach();
    } catch (...) {
        mayRest = false;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        pthread_sigmask(SIG_UNBLOCK, &death, nullptr);
    }
}

// After the caller let go: waits at restPath for the next one and makes it the channel. False
// when none came, or when this companion does not rest.
bool restForNextCaller(const char* restPath) {
    if (!mayRest || !restPath)
        return false;
    // Our parent may end at any time now, and a later caller is not our parent.
    prctl(PR_SET_PDEATHSIG, 0);
    rested = true;
    const int channel = restUntilCalled(restPath, envNumber("PX_ENGINE_REST_MS", 0));
    if (channel < 0)
        return false;
    const bool moved = ::dup2(channel, kChannelFd) == kChannelFd;
    ::close(channel);
    return moved;
}

int serve(const Request& request, int pdfFd, Reporter& reporter, fz_context* ctx) {
    try {
        return rasterize(request, pdfFd, reporter, ctx);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

} // namespace
} // namespace pxraster

#ifdef PX_SANDBOX_TEST_HOOK
// Test builds only: a PDF named "attempt-WHAT.pdf" makes the confined engine try WHAT first, each
// something the sandbox must stop. EIO when the attempt failed, 0 when it got through (or was
// none), so that the call then succeeds and the test sees the escape.
extern "C" __attribute__((noinline, used)) int
pxraster_forbidden_attempt(const pxraster::Request& request) {
    const std::string& pdf = request.pdfPath;
    const std::string name = pdf.substr(pdf.rfind('/') + 1);
    const char* homeValue = std::getenv("HOME");
    const std::string home = homeValue ? homeValue : "/root";
    const int created = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = -1;
    if (name == "attempt-read-key.pdf") {
        fd = ::open((home + "/.ssh/id_rsa").c_str(), O_RDONLY | O_CLOEXEC);
    } else if (name == "attempt-write-beside.pdf") {
        fd = ::open(pdf.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    } else if (name == "attempt-create-outside.pdf") {
        fd = ::open((home + "/created").c_str(), created, 0600);
    } else if (name == "attempt-create-in-output.pdf") {
        fd =
            ::open((pxraster::folderOf(request.targetPath) + "/direct.png").c_str(), created, 0600);
    } else if (name == "attempt-shell.pdf") {
        const std::string command = "echo escaped > '" + home + "/shell-ran'";
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    } else if (name == "attempt-tcp.pdf") {
        const char* port = std::getenv("PX_TEST_TCP_PORT");
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port ? std::atoi(port) : 9));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            fd = -1;
        }
    } else {
        return 0;
    }
    if (fd < 0)
        return EIO;
    ::close(fd);
    return 0;
}
#endif

// argv[1], when given, is where this companion may rest between runs (PX_ENGINE_REST_MS).
int main(int argc, char* argv[]) {
    const char* restPath = argc > 1 ? argv[1] : nullptr;
    pxraster::mayRest = restPath && pxraster::envNumber("PX_ENGINE_REST_MS", 0) > 0;
    pxraster::startWatchingCaller(restPath);
    // A file size limit must fail the write (EFBIG), not kill the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    pxraster::ContextHolder holder;
    holder.lockContext = holder.locks.context();
    holder.ctx = pxpdf::newQuietContext(&holder.lockContext, pxraster::kStoreBytes);
    pxraster::Reporter reporter;
    std::string pending;
    for (;;) {
        pxraster::Request request;
        int pdfFd = -1;
        switch (pxraster::readRequest(pending, request, &pdfFd)) {
        case pxraster::Next::End:
            if (pxraster::restForNextCaller(restPath)) {
                pending.clear();
                continue;
            }
            return 0;
        case pxraster::Next::Garbled:
            return 2;
        case pxraster::Next::Request:
            break;
        }
        pxraster::busy = true;
        pxraster::wakeWatcher();
        int rc = 0;
#ifdef PX_SANDBOX_TEST_HOOK
        rc = pxraster_forbidden_attempt(request);
#endif
        if (rc == 0)
            rc = pxraster::serve(request, pdfFd, reporter, holder.ctx);
        if (pdfFd >= 0)
            ::close(pdfFd);
        // Every image is kept or closed by now: the caller may go once it has the result.
        pxraster::busy = false;
        reporter.send(pxraster::Report::finished(rc));
        pxraster::forgetRequest(holder.ctx);
    }
}
