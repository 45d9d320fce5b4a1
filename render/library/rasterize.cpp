// PxRasterizePdf: renders a page range of one PDF into image files. The rendering itself runs
// in the companion process beside this library, so that a page MuPDF never finishes, a runaway
// allocation, a crash or a file size limit never reaches the program that loaded us. Each
// calling thread keeps one companion for all its calls, since starting one costs as much as
// drawing a small page. This side hands it each request, follows the pages it reports
// (PxRasterizeProgress tells them to the caller), kills it when a page overruns its time or the
// caller cancels; the next call then starts a fresh one. The companion is confined: this side
// opens the PDF for it and creates, names and removes its image files (outputs.h).
#include "render/common/envnumber.h"
#include "render/common/outputnames.h"
#include "render/common/passfd.h"
#include "render/common/protocol.h"
#include "render/common/sanitized.h"
#include "render/library/outputs.h"
#include "render/library/resting.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" char** environ;

extern "C" __attribute__((visibility("default"))) int
PxRasterizePdf(const char* pdfPath, const char* targetPath, const char* password, int32_t zero,
               int32_t xDpi, int32_t yDpi, int32_t bitsPerPixel, int32_t tiffCompression,
               int32_t jpegQuality, int32_t grayscale, int32_t allInOne, int32_t firstPage,
               int32_t lastPage);
extern "C" __attribute__((visibility("default"))) void PxCancelRasterize(void);
extern "C" __attribute__((visibility("default"))) int
PxRasterizeProgress(int32_t* pagesDone, int32_t* pagesInRange, int32_t* bandThousandths);
extern "C" __attribute__((visibility("default"))) int
PxRasterizeLastCall(int32_t* pageCount, int32_t* pagesDone, int32_t* pagesInRange);

namespace pxraster {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCompanionName = PX_COMPANION_NAME;
constexpr int kMaxDpi = 9600;
// Time limits of a page (PX_PAGE_TIMEOUT_MS and PX_PAGE_TOTAL_TIMEOUT_MS set them in ms). A page
// fails with ETIME when it reports no progress for two minutes (each band drawn is progress),
// or when it is still not done ten minutes after it got to work: a poster of 200 x 200 inches
// at 300 dpi takes well under a minute, while a page of billions of tiny shapes would draw band
// after band for days. Opening the file until the page range is known has the no-progress
// limit too.
constexpr long kDefaultPageTimeoutMs = 120000;
constexpr long kDefaultPageTotalMs = 600000;
// The companion's address space (RLIMIT_AS): 1 GB. The workers' bitmaps share 512 MB (larger
// pages are drawn in bands), which leaves room for the document, MuPDF's cache and the stacks
// and malloc arenas of two workers; each worker beyond the second gets 96 MB more.
// PX_MEMORY_LIMIT_MB sets the limit exactly.
constexpr long long kBaseMemoryBytes = 1LL << 30;
constexpr long long kPerWorkerBytes = 96LL << 20;
constexpr unsigned kWorkersInBase = 2;
constexpr int kPollMs = 50; // how soon a cancel or an overrun page is noticed

#ifndef PX_SANITIZED
long long memoryLimit() {
    if (const long mb = envNumber("PX_MEMORY_LIMIT_MB", 0))
        return static_cast<long long>(mb) << 20;
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    return kBaseMemoryBytes +
           kPerWorkerBytes * (workers > kWorkersInBase ? workers - kWorkersInBase : 0);
}
#endif

// Set before the companion reads its request, so before it allocates for the document.
void limitMemory(pid_t pid) {
#ifdef PX_SANITIZED
    (void)pid; // the sanitizers reserve terabytes of address space up front
#else
    const long long limit = memoryLimit();
    const rlimit memory{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
    prlimit(pid, RLIMIT_AS, &memory, nullptr);
#endif
}

// What PxRasterizeProgress tells of a call.
struct Figures {
    int32_t pagesDone = 0, pagesInRange = 0, bandThousandths = 0;
    int32_t pageCount = 0; // of the document, once it is open; 0 before
};

// The calling thread's latest call that has returned, for PxRasterizeLastCall.
thread_local bool haveLastCall = false;
thread_local Figures lastCall;

// A call in progress; PxCancelRasterize reaches exactly the calls that run when it is made.
struct Call {
    std::atomic<bool> cancelled{false};
    Figures figures; // guarded by runningMutex, so a reader sees the three of one moment
    Call* next = nullptr;
};

std::mutex runningMutex;
Call* runningCalls = nullptr; // the most recently started first

class RunningCall {
public:
    explicit RunningCall(Call& call) : call_(call) {
        std::lock_guard<std::mutex> lock(runningMutex);
        call_.next = runningCalls;
        runningCalls = &call_;
    }
    ~RunningCall() {
        std::lock_guard<std::mutex> lock(runningMutex);
        for (Call** link = &runningCalls; *link; link = &(*link)->next) {
            if (*link == &call_) {
                *link = call_.next;
                break;
            }
        }
    }
    RunningCall(const RunningCall&) = delete;
    RunningCall& operator=(const RunningCall&) = delete;

private:
    Call& call_;
};

void cancelRunningCalls() {
    std::lock_guard<std::mutex> lock(runningMutex);
    for (Call* call = runningCalls; call; call = call->next)
        call->cancelled = true;
}

void publish(Call& call, const Figures& figures) {
    std::lock_guard<std::mutex> lock(runningMutex);
    call.figures = figures;
}

// The figures of the most recently started call still running; false when none runs.
bool latestFigures(Figures& figures) {
    std::lock_guard<std::mutex> lock(runningMutex);
    if (!runningCalls)
        return false;
    figures = runningCalls->figures;
    return true;
}

std::string companionPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&PxRasterizePdf), &info) || !info.dli_fname)
        return {};
    const std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) +
           kCompanionName;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void release() { fd_ = -1; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Starts the companion with the channel as kChannelFd, /dev/null as stdin, stdout and stderr,
// every other descriptor closed and default signal handling. Returns 0 or an errno value.
// A rest path, when given, is the companion's argument.
int spawnCompanion(const std::string& path, int channel, const std::string& restPath, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return ENOMEM;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return ENOMEM;
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    int rc = posix_spawnattr_setsigmask(&attr, &none);
    if (!rc)
        rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (!rc)
        rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (!rc)
        rc = posix_spawn_file_actions_adddup2(&actions, channel, kChannelFd);
    for (int fd = 0; fd <= 2 && !rc; ++fd)
        rc = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                              fd == 0 ? O_RDONLY : O_WRONLY, 0);
    if (!rc)
        rc = posix_spawn_file_actions_addclosefrom_np(&actions, kChannelFd + 1);
    if (!rc) {
        char* argv[] = {const_cast<char*>(kCompanionName),
                        restPath.empty() ? nullptr : const_cast<char*>(restPath.c_str()), nullptr};
        rc = posix_spawn(pid, path.c_str(), &actions, &attr, argv, environ);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == ENOMEM || rc == EAGAIN)
        return ENOMEM;
    return rc ? EIO : 0; // a missing or broken companion is the installation's fault
}

// `attached`, when >= 0, rides on the first byte.
bool sendAll(int fd, const std::string& data, int attached = -1) {
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n =
            sendWithFd(fd, data.data() + sent, data.size() - sent, sent == 0 ? attached : -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// What the companion reported so far.
struct Progress {
    struct Page {
        Clock::time_point latest;  // of its latest B report: the no-progress limit counts from here
        Clock::time_point working; // of its latest B without bands: it got to work (again) then
        int32_t thousandths = 0;   // of a page in bands, drawn so far
    };
    bool ranged = false;
    int32_t pageCount = 0, first = 0, last = 0;
    int32_t pagesDone = 0;
    std::map<int32_t, Page> rendering; // begun, not done
    std::vector<Report> questions;     // OpenFile and KeepFile, not answered yet
    bool finished = false;
    int32_t result = 0;

    // False for a line the companion of this build never writes.
    bool take(std::string_view line) {
        Report report;
        if (!decodeReport(line, report))
            return false;
        switch (report.kind) {
        case ReportKind::Pages:
            pageCount = report.pageCount;
            break;
        case ReportKind::Range:
            ranged = true;
            pageCount = report.pageCount;
            first = report.first;
            last = report.last;
            break;
        case ReportKind::Busy: {
            Page& page = rendering[report.page];
            page.latest = Clock::now();
            // A page waiting for others says so every second; its bands do not count as waiting.
            if (report.bandCount == 0 || page.working == Clock::time_point{})
                page.working = page.latest;
            if (report.bandCount > 0) {
                const auto drawn =
                    static_cast<int32_t>(int64_t{report.bandsDone} * 1000 / report.bandCount);
                page.thousandths = std::max(page.thousandths, drawn);
            }
            break;
        }
        case ReportKind::Done:
            rendering.erase(report.page);
            ++pagesDone;
            break;
        case ReportKind::OpenFile:
        case ReportKind::KeepFile:
            questions.push_back(report);
            break;
        case ReportKind::Result:
            finished = true;
            result = report.result;
            break;
        }
        return true;
    }

    Figures figures() const {
        Figures f;
        f.pagesDone = pagesDone;
        f.pagesInRange = ranged ? last - first + 1 : 0;
        f.pageCount = pageCount;
        int64_t thousandths = 0;
        for (const auto& [number, page] : rendering)
            thousandths += page.thousandths;
        f.bandThousandths = static_cast<int32_t>(std::min<int64_t>(thousandths, INT32_MAX));
        return f;
    }
};

enum class Reading { More, Ended, Garbled };

// Takes the complete lines that are there.
Reading readReports(int fd, std::string& pending, Progress& progress) {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? Reading::More
                                                                         : Reading::Ended;
    if (n == 0)
        return Reading::Ended;
    pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
        if (!progress.take(std::string_view(pending).substr(start, end + 1 - start)))
            return Reading::Garbled;
    pending.erase(0, start);
    return pending.size() < kMaxReportBytes ? Reading::More : Reading::Garbled;
}

// Answers the companion's questions about its files. False when the channel failed.
bool answer(int channel, Progress& progress, Outputs& outputs) {
    for (const Report& question : progress.questions) {
        int fd = -1;
        const int rc = question.kind == ReportKind::OpenFile
                           ? outputs.create(question.page, progress.first, progress.last,
                                            progress.pageCount, &fd)
                           : outputs.keep(question.page);
        if (!sendAll(channel, encodeAnswer(rc), fd))
            return false;
    }
    progress.questions.clear();
    return true;
}

void reap(pid_t pid, int* status) {
    while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
}

// Children let go to rest: reaped once they end, whenever an engine starts.
std::mutex restingChildrenMutex;
std::vector<pid_t> restingChildren;

void letGoToRest(pid_t pid) {
    std::lock_guard<std::mutex> lock(restingChildrenMutex);
    restingChildren.push_back(pid);
}

void reapRestedChildren() {
    std::lock_guard<std::mutex> lock(restingChildrenMutex);
    std::erase_if(restingChildren, [](pid_t pid) {
        int status = 0;
        return waitpid(pid, &status, WNOHANG) != 0;
    });
}

// A companion and our end of its channel. Destroying it ends the companion, or lets it rest.
// One taken over from an earlier run is not our child: it is signalled and awaited through its
// pidfd.
class Engine {
public:
    Engine(pid_t pid, int channel, std::string settings, bool rests, int pidfd = -1)
        : pid_(pid), owner_(::getpid()), channel_(channel), pidfd_(pidfd),
          settings_(std::move(settings)), rests_(rests) {}
    ~Engine() {
        // A process forked from ours inherits this object but not the child: it only lets go of
        // the channel.
        if (pid_ <= 0 || owner_ != ::getpid())
            return;
        // Only an idle companion is let go of this way: it holds no temporary file and no
        // half-written image, so ending it outright loses nothing and waits for nothing. One
        // that may rest goes on to wait for the next run when its channel closes.
        channel_.reset();
        if (rests_) {
            if (pidfd_.get() < 0)
                letGoToRest(pid_);
            return;
        }
        signal(SIGKILL);
        awaitEnd();
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int channel() const { return channel_.get(); }

    // Whether it was started by this process with the settings a call would start one with now.
    bool suits(const std::string& settings) const {
        return owner_ == ::getpid() && settings_ == settings;
    }

    // An idle companion says nothing: anything to read, or a closed channel, means it died or
    // went astray since its last call.
    bool idle() const {
        pollfd watched{channel_.get(), POLLIN, 0};
        return ::poll(&watched, 1, 0) == 0;
    }

    // Kills it and awaits its end.
    void kill() {
        signal(SIGKILL);
        reapEnded();
    }

    // Awaits a companion whose channel ended (or that was killed).
    void reapEnded() {
        awaitEnd();
        pid_ = -1;
    }

private:
    void signal(int number) {
        if (pidfd_.get() >= 0)
            ::syscall(SYS_pidfd_send_signal, pidfd_.get(), number, nullptr, 0);
        else
            ::kill(pid_, number);
    }

    void awaitEnd() {
        if (pidfd_.get() < 0) {
            int status = 0;
            reap(pid_, &status);
            return;
        }
        pollfd watched{pidfd_.get(), POLLIN, 0};
        while (::poll(&watched, 1, 1000) < 0 && errno == EINTR) {
        }
    }

    pid_t pid_;
    pid_t owner_;
    Fd channel_;
    Fd pidfd_;
    std::string settings_;
    bool rests_;
};

// The environment a companion reads once at its start (its memory limit too): a call made
// after they changed gets a companion that follows them.
std::string engineSettings() {
    std::string settings;
    for (const char* name : {"PX_MEMORY_LIMIT_MB", "PX_RENDER_THREADS", "PX_BAND_KB",
                             "PX_BITMAP_BUDGET_MB", "PX_GIF_QUANTIZE_ALWAYS"}) {
        const char* value = std::getenv(name);
        settings += value ? value : "-";
        settings += '\n';
    }
    return settings;
}

// The companion of the calling thread. Only the thread that started it uses it: the companion
// also ends when that thread does (its parent-death signal follows the thread).
thread_local std::unique_ptr<Engine> threadEngine;

int startEngine(std::unique_ptr<Engine>& engine, const std::string& settings) {
    const std::string companion = companionPath();
    if (companion.empty())
        return EIO;
    reapRestedChildren();
    const std::string key = restKey(companion, settings);
    if (TakenOver taken; takeOverResting(key, taken)) {
        Fd channel(taken.channel), pidfd(taken.pidfd);
        engine = std::make_unique<Engine>(taken.pid, channel.get(), settings, true, pidfd.get());
        channel.release();
        pidfd.release();
        return 0;
    }
    const std::string restPath = newRestPath(key);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return errno == EMFILE || errno == ENFILE ? errno : ENOMEM;
    Fd channel(pair[0]);
    Fd childEnd(pair[1]);
    pid_t pid = -1;
    if (const int rc = spawnCompanion(companion, childEnd.get(), restPath, &pid))
        return rc;
    limitMemory(pid);
    try {
        engine = std::make_unique<Engine>(pid, channel.get(), settings, !restPath.empty());
    } catch (...) {
        ::kill(pid, SIGKILL);
        int status = 0;
        reap(pid, &status);
        throw;
    }
    channel.release();
    return 0;
}

// Loading the library means calls will follow: the loading thread's companion starts now, so
// that it gets ready while the caller still prepares its first call.
__attribute__((constructor)) void startEngineOnLoad() {
    try {
        if (!threadEngine)
            startEngine(threadEngine, engineSettings());
    } catch (...) {
        // The first call tries again and reports what fails.
    }
}

struct Served {
    int result = 0;
    bool heardNothing = true; // the companion ended before it said a word about the request
    bool keep = false;        // the companion is fine for the next call
    Figures figures;
};

// One request on the engine, from handing it over with the PDF until its result.
Served serve(Engine& engine, const Request& request, int pdfFd, Call& call) {
    const auto timeout =
        std::chrono::milliseconds(envNumber("PX_PAGE_TIMEOUT_MS", kDefaultPageTimeoutMs));
    const auto totalTimeout =
        std::chrono::milliseconds(envNumber("PX_PAGE_TOTAL_TIMEOUT_MS", kDefaultPageTotalMs));
    const auto started = Clock::now();

    Progress progress;
    Served served;
    int killedFor = 0;
    bool ended = false;
    std::string pending;
    // Files not kept go when the call ends: the engine has finished with them, or is gone.
    const Target target = parseTarget(request.targetPath);
    Outputs outputs(target, request.allInOne != 0 && target.format == "tiff");
    if (!sendAll(engine.channel(), frameRequest(request), pdfFd))
        ended = true;
    while (!killedFor && !ended && !progress.finished) {
        pollfd watched{engine.channel(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, kPollMs);
        if (ready > 0) {
            const Reading reading = readReports(engine.channel(), pending, progress);
            if (reading != Reading::Ended)
                served.heardNothing = false;
            if (!answer(engine.channel(), progress, outputs))
                ended = true;
            publish(call, progress.figures());
            if (reading == Reading::Ended)
                ended = true;
            if (reading == Reading::Garbled)
                killedFor = EIO; // a companion of another build: the installation is broken
            continue;
        }
        if (ready < 0 && errno != EINTR) {
            killedFor = EIO;
            break;
        }
        if (call.cancelled) {
            killedFor = ECANCELED;
            break;
        }
        const auto now = Clock::now();
        // Before the range is known: opening the file, walking its page tree, measuring pages.
        if (!progress.ranged && now - started > timeout)
            killedFor = ETIME;
        for (const auto& [number, page] : progress.rendering)
            if (now - page.latest > timeout || now - page.working > totalTimeout)
                killedFor = ETIME;
    }
    if (killedFor)
        engine.kill();
    else if (!progress.finished)
        engine.reapEnded();

    served.keep = !killedFor && progress.finished;
    served.result = killedFor ? killedFor : progress.finished ? progress.result : EIO;
    served.figures = progress.figures();
    return served;
}

int supervise(const Request& request, int pdfFd, Call& call) {
    const std::string settings = engineSettings();
    for (int attempt = 0;; ++attempt) {
        const bool reused = threadEngine && threadEngine->suits(settings) && threadEngine->idle();
        if (!reused)
            threadEngine.reset();
        if (!threadEngine) {
            if (const int rc = startEngine(threadEngine, settings))
                return rc;
        }
        const Served served = serve(*threadEngine, request, pdfFd, call);
        if (!served.keep)
            threadEngine.reset();
        // A kept companion that died idle just before the call (killed from outside, say) is
        // no fault of this file: it gets one fresh companion.
        if (reused && !served.keep && served.heardNothing && served.result == EIO && attempt == 0)
            continue;
        haveLastCall = true;
        lastCall = served.figures;
        return served.result;
    }
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
    if (parseTarget(targetPath).format.empty())
        return EINVAL;

    // Opened here, in the caller's process, for the confined companion. Not blocking: a named
    // pipe given as the file must not stall us before it is refused.
    const Fd pdf(::open(pdfPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int openError = errno;
    struct stat st {};
    if (pdf.get() < 0 || ::fstat(pdf.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        haveLastCall = true;
        lastCall = {};
        if (pdf.get() >= 0)
            return EINVAL; // a folder or a device is no PDF
        return openError == ENOENT || openError == ENOTDIR ? ENOENT
               : openError == EACCES || openError == EPERM ? EACCES
                                                           : EINVAL;
    }

    Call call;
    const RunningCall running(call);
    Request request;
    request.pdfPath = pdfPath;
    request.targetPath = targetPath;
    request.hasPassword = password != nullptr;
    request.password = password ? password : "";
    request.xDpi = xDpi;
    request.yDpi = yDpi;
    request.bitsPerPixel = bitsPerPixel;
    request.tiffCompression = tiffCompression;
    request.jpegQuality = jpegQuality;
    request.grayscale = grayscale;
    request.allInOne = allInOne;
    request.firstPage = firstPage;
    request.lastPage = lastPage;
    return supervise(request, pdf.get(), call);
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

extern "C" int PxRasterizeProgress(int32_t* pagesDone, int32_t* pagesInRange,
                                   int32_t* bandThousandths) {
    pxraster::Figures figures;
    bool running = false;
    try {
        running = pxraster::latestFigures(figures);
    } catch (...) {
        figures = {}; // locking failed: report nothing rather than let it reach C code
    }
    if (pagesDone)
        *pagesDone = figures.pagesDone;
    if (pagesInRange)
        *pagesInRange = figures.pagesInRange;
    if (bandThousandths)
        *bandThousandths = figures.bandThousandths;
    return running ? 1 : 0;
}

extern "C" int PxRasterizeLastCall(int32_t* pageCount, int32_t* pagesDone, int32_t* pagesInRange) {
    const pxraster::Figures figures =
        pxraster::haveLastCall ? pxraster::lastCall : pxraster::Figures{};
    if (pageCount)
        *pageCount = figures.pageCount;
    if (pagesDone)
        *pagesDone = figures.pagesDone;
    if (pagesInRange)
        *pagesInRange = figures.pagesInRange;
    return pxraster::haveLastCall ? 1 : 0;
}
