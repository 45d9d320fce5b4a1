#include "engine/conversionoptions.h"
#include "engine/events.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/progresswatch.h"
#include "engine/renderapi.h"
#include "engine/renderfiles.h"
#include "engine/runfolders.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QString Delimiter = QStringLiteral("/");

QString WithDelimiter(const QString& folder) {
    return folder.endsWith(Delimiter) ? folder : folder + Delimiter;
}

// Decimal text to a number; anything else ends the pass through the worker's error box.
int32_t ToNumber(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        throw std::runtime_error(
            QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
    return value;
}

const QString NoLibraryText =
    QStringLiteral("Can't find library!(%1), Please reinstall the program to fix this problem.");

// The library of the running pass, for CancelRendering on the GUI thread: the mutex keeps the
// library loaded while its cancel entry is called.
std::mutex loadedMutex;
void* loadedHandle = nullptr;

// The library is loaded for one pass only; whatever ends the pass unloads it.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const QString& path)
        : m_handle(path.isEmpty() ? nullptr : platform::LoadLibrary(path)) {
        std::lock_guard lock(loadedMutex);
        loadedHandle = m_handle;
    }
    ~LoadedLibrary() { unload(); }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    void* handle() const { return m_handle; }
    void unload() {
        std::lock_guard lock(loadedMutex);
        if (loadedHandle == m_handle)
            loadedHandle = nullptr;
        if (m_handle)
            platform::FreeLibrary(m_handle);
        m_handle = nullptr;
    }

private:
    void* m_handle;
};

std::atomic<int> extractionWaitMs{30000};

// The package check only asks the GUI thread to unpack the package. Loading at once would fail
// whenever the files had vanished (a temporary-folder cleaner, say) although the extraction was
// about to bring them back, so the pass waits until the extraction has ended, within a limit.
void WaitForExtraction(const TProcThread& worker, int extractionsBefore) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(extractionWaitMs.load());
    while (!worker.Terminated() && ExtractionsEnded() == extractionsBefore &&
           !RenderFilesPresent() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// RenderFinished is false only while a render call may run; an error raised in between must not
// leave the GUI's progress polling waiting for ever.
class RenderInProgress {
public:
    RenderInProgress() { RenderFinished.store(false); }
    ~RenderInProgress() { RenderFinished.store(true); }
    RenderInProgress(const RenderInProgress&) = delete;
    RenderInProgress& operator=(const RenderInProgress&) = delete;
};

struct RenderArguments {
    QByteArray pdfPath;
    QByteArray targetPath;
    QByteArray password;
    int32_t dpi = 0;
    int32_t bitsPerPixel = 24;
    int32_t tiffCompression = 0;
    int32_t jpegQuality = 0;
    int32_t grayscale = 0;
    int32_t allInOne = 0;
    int32_t firstPage = 0;
    int32_t lastPage = 0;
};

RenderArguments DeriveArguments(const TPdffile& entry, const QString& targetPath,
                                const QString& firstPage, const QString& lastPage) {
    const TConversionOptions& options = ConversionOptions;
    RenderArguments args;
    args.pdfPath = platform::toAnsi(entry.FilePath());
    args.targetPath = platform::toAnsi(targetPath);
    args.password = platform::toAnsi(entry.Password());
    const bool colour = options.OutputColor == QStringLiteral("0");
    args.bitsPerPixel = colour ? 24 : 8;
    const int compression = options.TiffCompression;
    if (options.FormatName.trimmed() == QStringLiteral("TIFF") && compression >= 2 &&
        compression <= 4)
        args.bitsPerPixel = 1;
    args.tiffCompression = compression;
    args.grayscale = colour ? 0 : 1;
    args.allInOne = options.MultiPage == QStringLiteral("0") ? 0 : 1;
    args.firstPage = ToNumber(firstPage);
    args.lastPage = ToNumber(lastPage);
    args.jpegQuality = ToNumber(options.JPEGQuality);
    args.dpi = ToNumber(options.Dpi);
    return args;
}

struct PageRangeText {
    QString first;
    QString last;
};

std::atomic<bool> uncountedToTheEnd{false};

// All pages, or the options' range with an empty end standing for the document's end. A file
// nobody counted (the command does not probe) may end at the largest page number: the engine
// stops at the document's end.
PageRangeText PageRangeOf(const TPdffile& entry, const TConversionOptions& options) {
    const QString pages = entry.Pages();
    const QString end =
        pages.isEmpty() && uncountedToTheEnd.load() ? QString::number(INT32_MAX) : pages;
    if (options.Range == QStringLiteral("0"))
        return {QStringLiteral("1"), end};
    return {options.FirstPage.isEmpty() ? QStringLiteral("1") : options.FirstPage,
            options.LastPage.isEmpty() ? end : options.LastPage};
}

struct RenderOutcome {
    int result = 0;
    int error = 0;
    PageProgress progress; // how far the call got
    int pageCount = 0;     // of the document, as the engine found it; 0 when unknown
};

enum class FileStep { Next, EndPass };

template <typename Proc> Proc LibraryEntry(const LoadedLibrary& library, const QByteArray& name) {
    return name.isEmpty() ? nullptr
                          : reinterpret_cast<Proc>(
                                platform::GetProcAddress(library.handle(), name.constData()));
}

// A page range that lies wholly behind the document's end would write nothing; the row says so
// instead of reporting success.
QString RangeOutsideDocument(const TPdffile& entry, const RenderArguments& args) {
    bool known = false;
    const int pages = entry.Pages().toInt(&known);
    if (!known || pages <= 0 || (args.firstPage <= pages && args.firstPage <= args.lastPage))
        return QString();
    // An open end stands for the document's end, which lies before the first page.
    const QString last =
        args.lastPage >= args.firstPage ? QString::number(args.lastPage) : QString();
    return QStringLiteral("pages %1\u2013%2 of a %3-page file")
        .arg(args.firstPage)
        .arg(last)
        .arg(pages);
}

// The render call under a progress watch. The engine's progress entry tells of the newest call
// only, so with files side by side the watch only cancels.
RenderOutcome Render(const LoadedLibrary& library, RasterizePdfProc rasterize,
                     const RenderArguments& args, EngineEvents& events, int i, bool sideBySide) {
    RenderOutcome outcome;
    // Ends with the thread: the pass's threads are joined before the pass returns.
    thread_local WatchThread watcher;
    const ProgressWatch watch(
        watcher,
        sideBySide ? nullptr : LibraryEntry<RasterizeProgressProc>(library, ProgressProcName),
        LibraryEntry<CancelRasterizeProc>(library, CancelProcName), StopRequested, events, i);
    errno = 0;
    outcome.result =
        rasterize(args.pdfPath.constData(), args.targetPath.constData(),
                  args.password.isEmpty() ? nullptr : args.password.constData(), 0, args.dpi,
                  args.dpi, args.bitsPerPixel, args.tiffCompression, args.jpegQuality,
                  args.grayscale, args.allInOne, args.firstPage, args.lastPage);
    // A failure must never read as "Success".
    outcome.error = outcome.result != 0 && errno == 0 ? EIO : errno;
    outcome.progress = watch.Last();
    // The call's own figures are exact where the watch may have missed its last moments.
    int32_t pageCount = 0, done = 0, inRange = 0;
    if (const auto lastCall = LibraryEntry<RasterizeLastCallProc>(library, LastCallProcName);
        lastCall && lastCall(&pageCount, &done, &inRange)) {
        outcome.pageCount = pageCount;
        outcome.progress.pagesDone = done;
        outcome.progress.pagesInRange = inRange;
    }
    return outcome;
}

// What one file's conversion works with. With files side by side the library stays loaded
// until every thread is done, whatever ends the pass.
struct PassContext {
    TProcThread& worker;
    LoadedLibrary& library;
    bool sideBySide = false;

    void unload() const {
        if (!sideBySide)
            library.unload();
    }
};

// The file failed: its row says why, and the run goes on unless the front end ends it.
FileStep FailEntry(TPdffile& entry, int i, const QString& reason, int error, EngineEvents& events,
                   const PassContext& pass) {
    entry.setConversionResult(QString(), QString(), reason, true);
    if (events.FileFailed(i, reason, error))
        return FileStep::Next;
    pass.unload();
    events.Fatal(QStringLiteral("Error opening a PDF file.(") + reason + QLatin1Char(')'));
    return FileStep::EndPass;
}

// One file: its folder (`folderName`, claimed for it), the render call, the entry's fields.
// EndPass when the pass must end without its end message (terminate request, a fatal error).
FileStep ConvertEntry(const PassContext& pass, const QString& folderName, int i, TPdffile& entry) {
    TProcThread& worker = pass.worker;
    const LoadedLibrary& library = pass.library;
    EngineEvents& events = worker.Events();
    const TConversionOptions& options = ConversionOptions;
    const PageRangeText range = PageRangeOf(entry, options);
    const QString base = StripExtension(entry.FileName());
    const QString subfolder = WithDelimiter(options.OutputFolder) + folderName;
    const QString targetPath =
        subfolder + Delimiter + base + QLatin1Char('.') + options.FormatName.toLower();

    events.FileStarted(i);
    if (worker.Terminated())
        return FileStep::EndPass;

    RenderOutcome outcome;
    RenderArguments args;
    {
        RenderInProgress rendering;
        events.RenderStarted(i);
        const auto rasterize = LibraryEntry<RasterizePdfProc>(library, RasterizeProcName);
        if (!rasterize) {
            pass.unload();
            events.Fatal(NoLibraryText.arg(3));
            return FileStep::EndPass;
        }
        args = DeriveArguments(entry, targetPath, range.first, range.last);
        if (const QString outside = RangeOutsideDocument(entry, args); !outside.isEmpty())
            return FailEntry(entry, i, outside, EINVAL, events, pass);
        bool created = false;
        if (const QString why = PrepareSubfolder(subfolder, &created); !why.isEmpty())
            return FailEntry(entry, i, why, EIO, events, pass);
        outcome = Render(library, rasterize, args, events, i, pass.sideBySide);
        if (entry.Pages().isEmpty() && outcome.pageCount > 0)
            entry.setPages(QString::number(outcome.pageCount));
        // A folder made for a file that gave no image would only puzzle the user.
        const bool noImage = outcome.result != 0 || outcome.progress.pagesDone == 0;
        if (created && noImage)
            ::rmdir(platform::toAnsi(subfolder).constData());
        if (worker.Terminated())
            return FileStep::EndPass;
    }
    // Only now known for a file that was not counted before.
    if (outcome.result == 0 && outcome.pageCount > 0 && outcome.progress.pagesInRange == 0) {
        if (const QString outside = RangeOutsideDocument(entry, args); !outside.isEmpty())
            return FailEntry(entry, i, outside, EINVAL, events, pass);
    }
    if (outcome.result != 0 && outcome.error == ECANCELED && StopRequested.load()) {
        // Stopped: the complete images stay, and the row says how far the file got.
        const PageProgress& p = outcome.progress;
        const bool some = p.pagesDone > 0;
        entry.setPagesWritten(p.pagesDone);
        entry.setConversionResult(some ? subfolder : QString(), some ? base : QString(),
                                  QStringLiteral("Stopped after %1 of %2 pages")
                                      .arg(p.pagesDone)
                                      .arg(p.pagesInRange > 0 ? p.pagesInRange : 0),
                                  false);
        events.FileStopped(i);
        return FileStep::Next;
    }
    if (outcome.result != 0)
        return FailEntry(entry, i, platform::systemErrorText(outcome.error), outcome.error, events,
                         pass);
    entry.setPagesWritten(outcome.progress.pagesDone);
    entry.setConversionResult(subfolder, base, base, false);
    events.FileConverted(i);
    return FileStep::Next;
}

} // namespace

QString StripExtension(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || fileName.indexOf(Delimiter, dot) >= 0)
        return fileName;
    return fileName.left(dot);
}

QString OutputBasePath(const QString& fileName) {
    if (fileName.isEmpty())
        return QString();
    const QString base = StripExtension(fileName);
    return WithDelimiter(ConversionOptions.OutputFolder) + base + Delimiter + base;
}

void CancelRendering() {
    std::lock_guard lock(loadedMutex);
    if (loadedHandle == nullptr || CancelProcName.isEmpty())
        return;
    const auto cancel = reinterpret_cast<CancelRasterizeProc>(
        platform::GetProcAddress(loadedHandle, CancelProcName.constData()));
    if (cancel)
        cancel();
}

void SetExtractionWaitLimit(int milliseconds) {
    extractionWaitMs.store(milliseconds);
}

namespace {

std::atomic<int> convertJobs{1};

// The output folder went away during the run: every further file would fail the same way.
bool OutputFolderGone(bool rootExisted) {
    return rootExisted && !platform::DirectoryExists(ConversionOptions.OutputFolder);
}

QString OutputFolderGoneText() {
    return QStringLiteral("The output folder %1 is gone; the run was ended.")
        .arg(ConversionOptions.OutputFolder);
}

// One file after another, in list order.
void ConvertOneByOne(TProcThread& worker, LoadedLibrary& library, const TPdfList* list, int total,
                     bool rootExisted) {
    const PassContext pass{worker, library, false};
    RunFolders folders;
    for (int i = 0; i < total; ++i) {
        worker.CheckPause();
        if (StopRequested.load())
            break;
        TPdffile* entry = list->at(i);
        if (!entry || !IsConvertible(entry->State()))
            continue;
        if (OutputFolderGone(rootExisted)) {
            library.unload();
            worker.Events().RunAborted(OutputFolderGoneText());
            return;
        }
        const QString folder = folders.Claim(StripExtension(entry->FileName()));
        if (ConvertEntry(pass, folder, i, *entry) == FileStep::EndPass)
            return;
    }
    library.unload();
    worker.Events().RunEnded();
}

// `jobs` files at a time, each thread taking the next file of the list. The folders are claimed
// in list order before any file starts, so the output is the same as one by one.
void ConvertSideBySide(TProcThread& worker, LoadedLibrary& library, const TPdfList* list, int total,
                       bool rootExisted, int jobs) {
    if (!LibraryEntry<RasterizePdfProc>(library, RasterizeProcName)) {
        library.unload();
        worker.Events().Fatal(NoLibraryText.arg(3));
        return;
    }
    struct Work {
        int position;
        TPdffile* entry;
        QString folder;
    };
    std::vector<Work> work;
    RunFolders folders;
    for (int i = 0; i < total; ++i) {
        TPdffile* entry = list->at(i);
        if (entry && IsConvertible(entry->State()))
            work.push_back({i, entry, folders.Claim(StripExtension(entry->FileName()))});
    }
    const PassContext pass{worker, library, true};
    std::atomic<size_t> next{0};
    std::atomic<bool> ended{false};   // a fatal error or a terminate request ended the pass
    std::atomic<bool> aborted{false}; // the output folder went away
    std::mutex failureMutex;
    std::exception_ptr failure; // the first error raised on any thread, raised again here
    const auto convert = [&] {
        try {
            while (!ended.load() && !aborted.load()) {
                worker.CheckPause();
                if (StopRequested.load())
                    return;
                const size_t k = next.fetch_add(1);
                if (k >= work.size())
                    return;
                if (OutputFolderGone(rootExisted)) {
                    if (!aborted.exchange(true))
                        worker.Events().RunAborted(OutputFolderGoneText());
                    return;
                }
                if (ConvertEntry(pass, work[k].folder, work[k].position, *work[k].entry) ==
                    FileStep::EndPass)
                    ended = true;
            }
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure)
                failure = std::current_exception();
            ended = true;
        }
    };
    std::vector<std::thread> threads;
    const size_t helpers = std::min(work.size(), size_t(jobs)) - (work.empty() ? 0 : 1);
    try {
        for (size_t t = 0; t < helpers; ++t)
            threads.emplace_back(convert);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started do the work.
    }
    convert();
    for (std::thread& thread : threads)
        thread.join();
    library.unload();
    // Ends the pass as an error on one file by one would: a PassError.
    if (failure)
        std::rethrow_exception(failure);
    if (!ended.load() && !aborted.load())
        worker.Events().RunEnded();
}

} // namespace

void SetConvertJobs(int jobs) {
    convertJobs.store(std::max(1, jobs));
}

void SetConvertUncounted(bool toTheEnd) {
    uncountedToTheEnd.store(toTheEnd);
}

namespace {

void RunConvertPass(TProcThread& worker) {
    if (!RenderFilesPresent()) {
        const int extractionsBefore = ExtractionsEnded();
        RunPackageCheck();
        WaitForExtraction(worker, extractionsBefore);
    }

    LoadedLibrary library(RenderLibraryPath());
    if (!library.handle()) {
        worker.Events().Fatal(NoLibraryText.arg(1));
        return;
    }
    {
        // Revealing the entry names takes a while; when the front end left it to the pass, it
        // happens while the engine the library started on loading gets ready.
        std::lock_guard lock(loadedMutex);
        if (RasterizeProcName.isEmpty())
            RevealRenderEntryNames();
    }

    TPdfList* list = PdfFileList;
    // Entries appended during the conversion lie behind this count and are left alone.
    const int total = list ? list->count() : 0;
    // A folder missing at the start is made with the first file's folder; one that goes away
    // during the run would fail every further file the same way.
    const bool rootExisted = platform::DirectoryExists(ConversionOptions.OutputFolder);
    const int jobs = convertJobs.load();
    if (jobs > 1)
        ConvertSideBySide(worker, library, list, total, rootExisted, jobs);
    else
        ConvertOneByOne(worker, library, list, total, rootExisted);
}

} // namespace

void ConvertPass(TProcThread& worker) {
    // The library keeps an engine for each thread that calls it, ended as that thread ends. A
    // thread of the pass's own, joined before the pass returns, takes its engine with it: none
    // outlives the pass, as the worker thread itself may still be ending when it reports done.
    std::exception_ptr failure;
    std::thread pass([&worker, &failure] {
        try {
            RunConvertPass(worker);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    pass.join();
    if (failure)
        std::rethrow_exception(failure);
}
