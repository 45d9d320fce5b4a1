#include "app/batch.h"

#include "app/batchoptions.h"
#include "app/inifile.h"
#include "app/literals/literal_values.h"
#include "app/literals/literals.h"
#include "app/optionpanel.h"
#include "app/outputfolder.h"
#include "app/pdfpaths.h"
#include "app/settings.h"
#include "engine/conversionoptions.h"
#include "engine/messages.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/provisioning.h"
#include "engine/renderapi.h"
#include "platform/folders.h"
#include "platform/msgbox.h"
#include "platform/winmsg.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

void Print(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Fail(const QString& file, const QString& reason) {
    Print(stderr, QStringLiteral("%1: %2\n").arg(file, reason));
}

QString StoredOr(const QByteArray& content, Setting id) {
    const QString stored = StoredSetting(content, id);
    return stored.trimmed().isEmpty() ? QString::fromLatin1(SettingRow(id).fallback) : stored;
}

// The options the window would convert with, from the stored settings.
struct Choice {
    QString folder;
    int format = 0;
    int tiff = 1;
    bool gray = false;
    QString dpi;
    QString quality;
    bool eachPage = true;
    bool range = false;
    QString firstPage;
    QString lastPage;
};

Choice StoredChoice() {
    const QByteArray content = ini::ReadFile(SettingsFilePath());
    Choice c;
    c.folder = StoredSetting(content, Setting::OutputFolder);
    if (c.folder.trimmed().isEmpty())
        c.folder = DefaultOutputFolder();
    c.format =
        StoredIndex(StoredSetting(content, Setting::OutputFormat), int(FormatNames.size()), 0);
    c.tiff = StoredIndex(StoredSetting(content, Setting::TiffFormat),
                         int(TiffCompressionNames.size()), 1);
    c.gray = StoredSetting(content, Setting::OutputColor).trimmed() == QStringLiteral("1");
    c.dpi = StoredOr(content, Setting::Dpi);
    c.quality = StoredOr(content, Setting::JPEGQuality);
    c.eachPage = StoredSetting(content, Setting::EachPage).trimmed() != QStringLiteral("0");
    c.range = StoredSetting(content, Setting::Range).trimmed() == QStringLiteral("1");
    if (c.range) {
        c.firstPage = StoredSetting(content, Setting::FirstPage);
        c.lastPage = StoredSetting(content, Setting::LastPage);
    }
    return c;
}

void Apply(const BatchOptions& o, Choice& c) {
    if (o.output)
        c.folder = QDir::cleanPath(QDir().absoluteFilePath(*o.output));
    if (o.format)
        c.format = int(FormatNames.indexOf(*o.format));
    if (o.tiffIndex)
        c.tiff = *o.tiffIndex;
    if (o.mono) {
        c.format = FormatTiff;
        if (!IsTwoLevelCompression(c.tiff))
            c.tiff = 5; // Fax G4
        c.gray = false;
    }
    if (o.gray)
        c.gray = *o.gray;
    if (o.dpi)
        c.dpi = *o.dpi;
    if (o.quality)
        c.quality = *o.quality;
    if (o.multiPage)
        c.eachPage = !*o.multiPage;
    if (o.firstPage) {
        c.range = true;
        c.firstPage = *o.firstPage;
        c.lastPage = o.lastPage.value_or(QString());
    }
}

void Save(const Choice& c) {
    WriteSetting(Setting::OutputFolder, c.folder);
    WriteSetting(Setting::OutputFormat, QString::number(c.format));
    WriteSetting(Setting::TiffFormat, QString::number(c.tiff));
    const bool twoLevel = c.format == FormatTiff && IsTwoLevelCompression(c.tiff);
    WriteSetting(Setting::OutputColor, QStringLiteral("%1").arg(!twoLevel && c.gray ? 1 : 0));
    WriteSetting(Setting::Dpi, c.dpi);
    WriteSetting(Setting::JPEGQuality, c.quality);
    WriteSetting(Setting::EachPage, c.eachPage ? QStringLiteral("1") : QStringLiteral("0"));
    WriteSetting(Setting::Range, c.range ? QStringLiteral("1") : QStringLiteral("0"));
    WriteSetting(Setting::FirstPage, c.firstPage);
    WriteSetting(Setting::LastPage, c.lastPage);
}

void Fill(const Choice& c, TConversionOptions& options) {
    const bool twoLevel = c.format == FormatTiff && IsTwoLevelCompression(c.tiff);
    options.OutputFolder = c.folder;
    options.FormatName = FormatNames.at(c.format);
    options.Range = c.range ? QStringLiteral("1") : QStringLiteral("0");
    options.FirstPage = c.firstPage;
    options.LastPage = c.lastPage;
    options.Dpi = c.dpi;
    options.JPEGQuality = c.quality;
    options.TiffCompression = TiffCompressionOf(c.tiff);
    options.OutputColor = !twoLevel && c.gray ? QStringLiteral("1") : QStringLiteral("0");
    options.MultiPage = c.eachPage ? QStringLiteral("0") : QStringLiteral("1");
}

// Stands in for the main window during a pass: follows the files' progress and the pass's end.
class PassWatcher : public QObject {
public:
    PassWatcher(int total, bool terminal) : m_total(total), m_terminal(terminal) {
        m_poll.setInterval(200);
        connect(&m_poll, &QTimer::timeout, this, [this] { ShowPages(); });
    }

    int current = -1;   // index in the job list of the file taken up last
    bool ended = false; // WM_SETENDCONVERT
    bool fatal = false; // WM_TERMAPP
    int done = 0;       // files finished in all passes
    QSet<int> converted;

protected:
    bool event(QEvent* e) override {
        const int type = int(e->type());
        if (type == WM_SETPROGRESSINLISTVIEW) {
            const auto* m = static_cast<platform::WindowMessage*>(e);
            const int percent = platform::ProgressPercent(m->lParam());
            current = platform::ProgressPosition(m->lParam()) - 1;
            if (percent == 95) {
                m_shown = -1;
                m_poll.start();
                ShowPages();
            } else if (percent == 100) {
                m_poll.stop();
                converted.insert(current);
                ++done;
                if (m_terminal)
                    Print(stdout, QStringLiteral("\r\033[K[%1/%2] %3: done\n")
                                      .arg(done)
                                      .arg(m_total)
                                      .arg(Name()));
            }
            return true;
        }
        if (type == WM_SETENDCONVERT) {
            ended = true;
            m_poll.stop();
            return true;
        }
        if (type == WM_TERMAPP) {
            fatal = true;
            m_poll.stop();
            return true;
        }
        if (type == WM_SETLISTVIEW || type == WM_SETPROGRESS || type == WM_CREATETEMPLIB)
            return true;
        return QObject::event(e);
    }

private:
    QString Name() const {
        const TPdffile* entry = PdfFileList ? PdfFileList->at(current) : nullptr;
        return entry ? entry->FilePath() : QString();
    }

    // "page n of N" from the finished images in the file's subfolder, as the window counts them.
    void ShowPages() {
        if (!m_terminal)
            return;
        const TPdffile* entry = PdfFileList ? PdfFileList->at(current) : nullptr;
        if (entry == nullptr)
            return;
        const TConversionOptions& o = ConversionOptions;
        const QString base = StripExtension(entry->FileName());
        const QString folder = QDir(o.OutputFolder).filePath(base);
        const int count =
            int(QDir(folder)
                    .entryList({base + QStringLiteral("*.") + o.FormatName.toLower()}, QDir::Files)
                    .size());
        int first = 1;
        int last = entry->Pages().toInt();
        if (o.Range == QStringLiteral("1")) {
            if (!o.FirstPage.isEmpty())
                first = o.FirstPage.toInt();
            if (!o.LastPage.isEmpty())
                last = qMin(last, o.LastPage.toInt());
        }
        const int pages = qMax(0, last - first + 1);
        const bool oneFile = o.FormatName == QStringLiteral("TIFF") && o.MultiPage == u"1";
        if (count == m_shown)
            return;
        m_shown = count;
        Print(stdout, oneFile ? QStringLiteral("\r\033[K[%1/%2] %3: %4 pages")
                                    .arg(done + 1)
                                    .arg(m_total)
                                    .arg(Name())
                                    .arg(pages)
                              : QStringLiteral("\r\033[K[%1/%2] %3: page %4 of %5")
                                    .arg(done + 1)
                                    .arg(m_total)
                                    .arg(Name())
                                    .arg(qMin(count + 1, pages))
                                    .arg(pages));
    }

    QTimer m_poll;
    int m_total;
    bool m_terminal;
    int m_shown = -1;
};

// The reason inside "Error opening a PDF file.(reason)", or the text itself.
QString ReasonOf(const QString& box) {
    static const QString prefix = QStringLiteral("Error opening a PDF file.(");
    if (box.startsWith(prefix) && box.endsWith(QLatin1Char(')')))
        return box.mid(prefix.size(), box.size() - prefix.size() - 1);
    if (box.startsWith(QStringLiteral("Error: ")))
        return box.mid(7);
    return box;
}

QString ReadPasswordLine() {
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

} // namespace

int RunBatch(const QStringList& arguments) {
    const BatchParse parse = ParseBatchArguments(arguments);
    if (!parse.error.isEmpty()) {
        Print(stderr, QStringLiteral("pixolund convert: %1\nTry 'pixolund convert --help'.\n")
                          .arg(parse.error));
        return 2;
    }
    const BatchOptions& o = parse.options;
    if (o.help) {
        Print(stdout, BatchUsage());
        return 0;
    }
    if (o.version) {
        QStringList texts = RevealHiddenTextsUtf16({HidProductName, HidVersionLine});
        Print(stdout, QStringLiteral("%1 %2\n").arg(texts.value(0),
                                                    texts.value(1).section(QLatin1Char(' '), -1)));
        return 0;
    }

    Choice choice = StoredChoice();
    Apply(o, choice);
    // A folder named on the command line is made with its parents, as shell users expect.
    if (o.output)
        QDir().mkpath(choice.folder);
    if (!CheckOutputFolder(choice.folder)) {
        Print(stderr, QStringLiteral("pixolund convert: the output folder %1 cannot be used\n")
                          .arg(choice.folder));
        return 2;
    }
    if (o.saveOptions)
        Save(choice);
    Fill(choice, ConversionOptions);

    bool failed = false;
    QStringList missing;
    const QStringList files = ExpandPdfPaths(o.inputs, &missing);
    for (const QString& path : missing) {
        Fail(path, QStringLiteral("No such file or directory"));
        failed = true;
    }
    const QString password = o.passwordFromStdin ? ReadPasswordLine() : QString();

    // Boxes of the passes become failure lines; nothing waits for a user.
    QStringList boxes;
    platform::SetMessageBoxHandler([&boxes](platform::BoxKind kind, const QString& text) {
        boxes.append(text);
        return kind == platform::BoxKind::Warning ? platform::BoxAnswer::No
                                                  : platform::BoxAnswer::Ok;
    });

    TPdfList list;
    PdfFileList = &list;
    QSet<QString> seen;
    for (const QString& path : files) {
        if (!HasPdfExtension(path)) {
            Fail(path, QStringLiteral("not a PDF file (the name must end in .pdf)"));
            failed = true;
            continue;
        }
        if (seen.contains(path))
            continue;
        seen.insert(path);
        ProbeClassification probe;
        try {
            probe = RunInfoTool(ProbeCommandLine(path));
            if (probe.outcome == ProbeOutcome::Protected && o.passwordFromStdin) {
                probe = RunInfoTool(UnlockCommandLine(password, path));
                if (probe.outcome == ProbeOutcome::Protected) {
                    Fail(path, QStringLiteral("wrong password"));
                    failed = true;
                    continue;
                }
            }
        } catch (const std::exception& e) {
            Fail(path, QString::fromUtf8(e.what()));
            failed = true;
            continue;
        }
        if (probe.outcome == ProbeOutcome::Protected) {
            Fail(path, QStringLiteral("The file is password protected. Give its password with "
                                      "--password-stdin."));
            failed = true;
            continue;
        }
        if (probe.outcome == ProbeOutcome::NotReadable) {
            Fail(path, QStringLiteral("File Format is not Valid."));
            failed = true;
            continue;
        }
        auto entry = std::make_unique<TPdffile>(path, QFileInfo(path).fileName(), QString(),
                                                QString(), QString(), true);
        entry->setPassword(o.passwordFromStdin ? password : QString());
        entry->setProbeResult(probe.pages, StateTrue, QString());
        list.append(std::move(entry));
    }

    int status = failed ? 1 : 0;
    if (list.count() > 0) {
        // A working folder of this run's own: runs side by side (xargs -P) never unpack into,
        // or delete from, one another's folder.
        QTemporaryDir work(platform::TempFolder() + QStringLiteral(".pixolund-batch-XXXXXX"));
        LibraryDir = work.path() + QLatin1Char('/');
        try {
            PackageCheck();
            CreateTempLibFiles();
        } catch (const std::exception& e) {
            Print(stderr, QStringLiteral("pixolund convert: the renderer cannot be set up: %1\n")
                              .arg(QString::fromUtf8(e.what())));
            PdfFileList = nullptr;
            platform::SetMessageBoxHandler({});
            return 1;
        }
        const QList<QByteArray> names = RevealHiddenTexts({HidRasterizeName, HidCancelName});
        RasterizeProcName = names.value(0);
        CancelProcName = names.value(1);

        PassWatcher watcher(list.count(), ::isatty(STDOUT_FILENO) == 1);
        platform::SetMainWindow(&watcher);
        // A pass ends at the first file the renderer fails on; the next pass goes on behind it.
        for (;;) {
            boxes.clear();
            watcher.ended = watcher.fatal = false;
            watcher.current = -1;
            StopRequested = false;
            TProcThread worker(ModeConvert);
            QEventLoop loop;
            QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit,
                             Qt::QueuedConnection);
            worker.Resume();
            loop.exec();
            worker.WaitFor();
            QCoreApplication::sendPostedEvents(&watcher);
            for (int i : std::as_const(watcher.converted))
                list.at(i)->setState(QString()); // taken up by no later pass
            if (watcher.ended)
                break;
            const QString reason =
                boxes.isEmpty() ? QStringLiteral("Input/output error") : ReasonOf(boxes.last());
            if (watcher.current < 0 || watcher.converted.contains(watcher.current)) {
                // Nothing was taken up: the renderer itself is unusable; every file left fails.
                for (int i = 0; i < list.count(); ++i) {
                    if (IsConvertible(list.at(i)->State()))
                        Fail(list.at(i)->FilePath(), reason);
                }
                status = 1;
                break;
            }
            if (::isatty(STDOUT_FILENO) == 1)
                Print(stdout, QStringLiteral("\r\033[K"));
            Fail(list.at(watcher.current)->FilePath(), reason);
            list.at(watcher.current)->setState(QString());
            status = 1;
        }
        platform::SetMainWindow(nullptr);
        DeleteRenderFiles();
    }
    PdfFileList = nullptr;
    platform::SetMessageBoxHandler({});
    return status;
}
