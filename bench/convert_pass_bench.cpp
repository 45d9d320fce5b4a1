// Times the program's conversion pass over a batch of PDFs against calling the rendering library
// directly with the arguments the pass derives, and prints the pass's overhead.
//
//   convert_pass_bench [--repeat N] [--first P --last Q] [--quality Q]
//                      <renderlib-dir> <output-root> <format> <dpi> <pdf>:<pages>...
//
// Both sides load the same library file and write one image per page into
// <output-root>/{pass,direct}/<base>/. Each round runs both sides back to back, in alternating
// order; times are medians, the overhead the median of the rounds' pass/direct ratios.
// Exit status: 0 when both sides wrote the same images, 1 when they did not, 2 on usage errors.
#include "engine/conversionoptions.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/provisioning.h"
#include "engine/renderapi.h"
#include "platform/messages.h"
#include "platform/msgbox.h"
#include "platform/winmsg.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

struct Document {
    QString path;
    QString pages;
};

struct Settings {
    QString renderDir;
    QString outputRoot;
    QString format;
    QString dpi;
    QString quality = QStringLiteral("85");
    QString first;
    QString last;
    int repeat = 3;
    bool passOnly = false; // time the pass alone
    std::vector<Document> documents;
};

struct Timing {
    double wall = 0;
    double cpu = 0;
};

struct Output {
    int images = 0;
    qint64 bytes = 0;
};

// Stands in for the main window: the pass reports its end, or a fatal error, here.
class EndReceiver : public QObject {
public:
    bool ended = false;
    bool terminated = false;

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Type(WM_SETENDCONVERT))
            ended = true;
        else if (e->type() == QEvent::Type(WM_TERMAPP))
            terminated = true;
        else if (e->type() < QEvent::Type(WM_SETLISTVIEW) ||
                 e->type() > QEvent::Type(WM_CREATETEMPLIB))
            return QObject::event(e);
        return true;
    }
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class Stopwatch {
public:
    Stopwatch() : m_start(std::chrono::steady_clock::now()), m_cpu(CpuSeconds()) {}
    Timing elapsed() const {
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - m_start;
        return {wall.count(), CpuSeconds() - m_cpu};
    }

private:
    std::chrono::steady_clock::time_point m_start;
    double m_cpu;
};

// The images written under folder; the renderer's temporary ".~*.part" files do not count.
Output CountImages(const QString& folder, const QString& extension) {
    Output output;
    QDirIterator it(folder, {QStringLiteral("*.") + extension}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith(QLatin1Char('.')))
            continue;
        ++output.images;
        output.bytes += it.fileInfo().size();
    }
    return output;
}

void Clean(const QString& folder) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

// The page range the pass asks for: every page, or the chosen range clipped to nothing.
QString FirstPage(const Settings& s) {
    return s.first.isEmpty() ? QStringLiteral("1") : s.first;
}
QString LastPage(const Settings& s, const Document& d) {
    return s.last.isEmpty() ? d.pages : s.last;
}

bool RunPass(const Settings& s, const QString& outFolder, EndReceiver& receiver) {
    PdfFileList->clear();
    for (const Document& d : s.documents) {
        auto entry = std::make_unique<TPdffile>(d.path, QFileInfo(d.path).fileName(), QString(),
                                                QString(), QString(), true);
        entry->setProbeResult(d.pages, StateTrue, QString());
        PdfFileList->append(std::move(entry));
    }
    const bool ranged = !s.first.isEmpty() || !s.last.isEmpty();
    ConversionOptions = TConversionOptions{outFolder,
                                           s.format,
                                           ranged ? QStringLiteral("1") : QStringLiteral("0"),
                                           s.first,
                                           s.last,
                                           s.dpi,
                                           s.quality,
                                           0,
                                           QStringLiteral("0"),
                                           QStringLiteral("0")};
    receiver.ended = receiver.terminated = false;
    TProcThread worker(ModeConvert);
    // An event loop, as in the program, takes the pass's messages while it runs; WaitFor() alone
    // would notice the end only at its next 20 ms poll.
    QEventLoop loop;
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker.Resume();
    loop.exec();
    worker.WaitFor();
    QCoreApplication::sendPostedEvents(&receiver);
    return receiver.ended && !receiver.terminated;
}

bool RunDirect(const Settings& s, const QByteArray& libraryPath, const QString& outFolder) {
    // Loaded and unloaded once per batch, as the pass does.
    void* library = dlopen(libraryPath.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load: %s\n", dlerror());
        return false;
    }
    const auto rasterize =
        reinterpret_cast<RasterizePdfProc>(dlsym(library, RasterizeProcName.constData()));
    bool ok = rasterize != nullptr;
    const QString ext = s.format.toLower();
    const int32_t dpi = s.dpi.toInt();
    for (const Document& d : s.documents) {
        if (!ok)
            break;
        const QString base = StripExtension(QFileInfo(d.path).fileName());
        const QString folder = outFolder + QLatin1Char('/') + base;
        QDir().mkpath(folder);
        const QByteArray pdf = QFile::encodeName(d.path);
        const QByteArray target =
            QFile::encodeName(folder + QLatin1Char('/') + base + QLatin1Char('.') + ext);
        errno = 0;
        // Colour, no TIFF compression, one file per page: 24 bits per pixel.
        const int rc =
            rasterize(pdf.constData(), target.constData(), nullptr, 0, dpi, dpi, 24, 0,
                      s.quality.toInt(), 0, 0, FirstPage(s).toInt(), LastPage(s, d).toInt());
        if (rc != 0) {
            std::fprintf(stderr, "%s: render failed: %s\n", pdf.constData(), std::strerror(errno));
            ok = false;
        }
    }
    dlclose(library);
    return ok;
}

// The q-quantile by linear interpolation between the closest ranks.
double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double position = q * double(values.size() - 1);
    const size_t below = size_t(position);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (position - double(below)) * (values[above] - values[below]);
}

double Median(const std::vector<double>& values) {
    return Quantile(values, 0.5);
}

int Usage(const char* program) {
    std::fprintf(
        stderr,
        "usage: %s [--repeat N] [--first P --last Q] [--quality Q] [--pass-only] <renderlib-dir> "
        "<output-root> <format> <dpi> <pdf>:<pages>...\n",
        program);
    return 2;
}

bool ParseArguments(const QStringList& args, Settings& s) {
    QStringList positional;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QStringLiteral("--repeat") && hasValue)
            s.repeat = std::max(1, args[++i].toInt());
        else if (a == QStringLiteral("--first") && hasValue)
            s.first = args[++i];
        else if (a == QStringLiteral("--last") && hasValue)
            s.last = args[++i];
        else if (a == QStringLiteral("--quality") && hasValue)
            s.quality = args[++i];
        else if (a == QStringLiteral("--pass-only"))
            s.passOnly = true;
        else if (a.startsWith(QStringLiteral("--")))
            return false;
        else
            positional.append(a);
    }
    if (positional.size() < 5)
        return false;
    s.renderDir = positional[0];
    s.outputRoot = QFileInfo(positional[1]).absoluteFilePath();
    s.format = positional[2].toUpper();
    s.dpi = positional[3];
    QStringList bases;
    for (const QString& item : positional.mid(4)) {
        const qsizetype colon = item.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0 || item.mid(colon + 1).toInt() <= 0)
            return false;
        const QString path = QFileInfo(item.left(colon)).absoluteFilePath();
        // Output folders are named after the base name; two alike would overwrite each other.
        const QString base = StripExtension(QFileInfo(path).fileName());
        if (bases.contains(base)) {
            std::fprintf(stderr, "two PDFs share the base name %s\n", qPrintable(base));
            return false;
        }
        bases.append(base);
        s.documents.push_back({path, item.mid(colon + 1)});
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Settings s;
    if (!ParseArguments(app.arguments(), s))
        return Usage(argv[0]);

    // A private library folder holding the two files under the names the pass asks for.
    QTemporaryDir libraryDir;
    if (!libraryDir.isValid())
        return 2;
    LibraryDir = libraryDir.path() + QLatin1Char('/');
    PackageCheck();
    for (const QString& name : {RenderLibraryName.get(), RenderCompanionName.get()}) {
        const QString built = QDir(s.renderDir).absoluteFilePath(name);
        if (!QFileInfo::exists(built) || !QFile::link(built, LibraryDir + name)) {
            std::fprintf(stderr, "missing: %s\n", qPrintable(built));
            return 2;
        }
    }
    RasterizeProcName = "PxRasterizePdf";

    EndReceiver receiver;
    platform::SetMainWindow(&receiver);
    QStringList boxes;
    platform::SetMessageBoxHandler([&boxes](platform::BoxKind, const QString& text) {
        boxes.append(text);
        return platform::BoxAnswer::Ok;
    });
    TPdfList list;
    PdfFileList = &list;

    const QString passOut = s.outputRoot + QStringLiteral("/pass");
    const QString directOut = s.outputRoot + QStringLiteral("/direct");
    const QByteArray libraryPath = QFile::encodeName(LibraryDir + RenderLibraryName.get());
    const QString ext = s.format.toLower();
    int expected = 0;
    for (const Document& d : s.documents)
        expected += std::max(0, std::min(LastPage(s, d).toInt(), d.pages.toInt()) -
                                    FirstPage(s).toInt() + 1);

    std::vector<double> passWall, passCpu, directWall, directCpu;
    Output passOutput, directOutput;
    bool ok = true;
    // One untimed round first: the PDFs and the library are then in the page cache for both.
    for (int round = 0; round <= s.repeat && ok; ++round) {
        for (int side = 0; side < (s.passOnly ? 1 : 2) && ok; ++side) {
            const bool pass = s.passOnly || (side + round) % 2 == 0;
            const QString out = pass ? passOut : directOut;
            Clean(out);
            const Stopwatch watch;
            ok = pass ? RunPass(s, out, receiver) : RunDirect(s, libraryPath, out);
            const Timing t = watch.elapsed();
            if (!ok) {
                std::fprintf(stderr, "%s run failed%s%s\n", pass ? "pass" : "direct",
                             boxes.isEmpty() ? "" : ": ", qPrintable(boxes.join(QLatin1Char(' '))));
                break;
            }
            (pass ? passOutput : directOutput) = CountImages(out, ext);
            if (round == 0)
                continue;
            (pass ? passWall : directWall).push_back(t.wall);
            (pass ? passCpu : directCpu).push_back(t.cpu);
        }
    }
    platform::SetMainWindow(nullptr);
    PdfFileList = nullptr;
    QDir(passOut).removeRecursively();
    QDir(directOut).removeRecursively();
    if (!ok)
        return 1;

    if (s.passOnly) {
        const bool complete = passOutput.images == expected;
        std::printf("%s %s dpi, %zu PDFs, %d pages: pass %.3f s (best %.3f, cpu %.2f s), images "
                    "%d%s\n",
                    qPrintable(s.format), qPrintable(s.dpi), s.documents.size(), expected,
                    Median(passWall), *std::min_element(passWall.begin(), passWall.end()),
                    Median(passCpu), passOutput.images, complete ? "" : ", MISSING");
        return complete ? 0 : 1;
    }
    // Each round's two runs lie next to each other in time, so their ratio mostly cancels the
    // load of other processes; the median of the ratios drops the rounds a burst hit anyway.
    std::vector<double> wallRatios, cpuRatios;
    for (size_t i = 0; i < passWall.size(); ++i) {
        wallRatios.push_back(passWall[i] / directWall[i]);
        cpuRatios.push_back(passCpu[i] / directCpu[i]);
    }
    const bool same = passOutput.images == directOutput.images && passOutput.images == expected;
    std::printf("%s %s dpi, %zu PDFs, %d pages: pass %.2f s (best %.2f, cpu %.2f s), direct %.2f s "
                "(best %.2f, cpu %.2f s), overhead %+.2f%% wall %+.2f%% cpu (median of %zu "
                "rounds, wall quartiles %+.1f%%..%+.1f%%), images %d/%d%s\n",
                qPrintable(s.format), qPrintable(s.dpi), s.documents.size(), expected,
                Median(passWall), *std::min_element(passWall.begin(), passWall.end()),
                Median(passCpu), Median(directWall),
                *std::min_element(directWall.begin(), directWall.end()), Median(directCpu),
                100 * (Median(wallRatios) - 1), 100 * (Median(cpuRatios) - 1), wallRatios.size(),
                100 * (Quantile(wallRatios, 0.25) - 1), 100 * (Quantile(wallRatios, 0.75) - 1),
                passOutput.images, directOutput.images,
                same ? (passOutput.bytes == directOutput.bytes ? ", same bytes" : ", bytes differ")
                     : ", MISMATCH");
    return same ? 0 : 1;
}
