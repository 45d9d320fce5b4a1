#include "app/batch.h"

#include "app/batchoptions.h"
#include "app/batchreport.h"
#include "app/inifile.h"
#include "app/interruptguard.h"
#include "app/optionsmodel.h"
#include "app/outputfolder.h"
#include "app/pdfpaths.h"
#include "app/settings.h"
#include "engine/conversionoptions.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/enginecache.h"
#include "engine/provisioning/provisioning.h"
#include "engine/renderapi.h"
#include "platform/folders.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/sandboxprobe.h"
#include "platform/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr int MaxDpi = 9600; // the renderer's limit

void Fail(const QString& file, const QString& reason) {
    PrintText(stderr, QStringLiteral("%1: %2\n").arg(file, reason));
}

int UsageError(const QString& text) {
    PrintText(stderr,
              QStringLiteral("pixolund convert: %1\nTry 'pixolund convert --help'.\n").arg(text));
    return 2;
}

// The command's own choices on top of the stored options.
void ApplyChoices(const BatchOptions& o, OptionValues& v) {
    if (o.output)
        v.outputFolder = QDir::cleanPath(QDir().absoluteFilePath(*o.output));
    if (o.format)
        v.format = int(FormatNames.indexOf(*o.format));
    if (o.tiffIndex)
        v.tiff = *o.tiffIndex;
    if (o.mono) {
        v.format = FormatTiff;
        if (!IsTwoLevelCompression(v.tiff))
            v.tiff = 5; // Fax G4
    }
    if (o.dpi)
        v.dpi = *o.dpi;
    if (o.quality)
        v.quality = *o.quality;
    if (o.multiPage)
        v.eachPage = !*o.multiPage;
    if (o.firstPage) {
        v.range = true;
        v.firstPage = *o.firstPage;
        v.lastPage = o.lastPage.value_or(QString());
    }
    // The colour list follows format and compression, as the window's does.
    const qsizetype colours = ColorList(v.format, v.tiff).size();
    if (colours == 1)
        v.color = 0;
    else if (o.gray)
        v.color = *o.gray ? 1 : 0;
    else if (v.color < 0 || v.color >= colours)
        v.color = 0;
}

// The stored values the window's Start would refuse, or the pass would fail every file on.
QString CheckValues(const OptionValues& v) {
    qint32 dpi = 0;
    if (!ParseInt32(v.dpi, &dpi) || dpi < 1 || dpi > MaxDpi)
        return QStringLiteral("the resolution '%1' is not a whole number from 1 to %2; give --dpi")
            .arg(v.dpi)
            .arg(MaxDpi);
    for (const QString& page : {v.firstPage, v.lastPage}) {
        bool number = true;
        if (v.range && !page.isEmpty())
            page.toInt(&number, 10);
        if (!number)
            return QStringLiteral("the page range holds '%1', which is not a whole number; give "
                                  "--pages")
                .arg(page);
    }
    return QString();
}

// Stores the options as the window's; false (its message printed once) when it could not.
bool SaveValues(const OptionValues& v) {
    if (SettingsFilePath().isEmpty()) {
        PrintText(stderr, QStringLiteral("pixolund convert: the options cannot be stored: there "
                                         "is no folder for the settings file\n"));
        return false;
    }
    QByteArray content;
    ini::Encoding encoding;
    QString why;
    if (!ini::LoadFile(SettingsFilePath(), &content, &encoding, &why)) {
        PrintText(stderr, QStringLiteral("pixolund convert: the options cannot be stored: the "
                                         "settings file %1 cannot be used: %2\n")
                              .arg(SettingsFilePath(), why));
        return false;
    }
    const QList<QPair<Setting, QString>> keys = {
        {Setting::OutputFolder, v.outputFolder},
        {Setting::OutputFormat, QString::number(v.format)},
        {Setting::TiffFormat, QString::number(v.tiff)},
        {Setting::OutputColor, QString::number(v.color)},
        {Setting::Dpi, v.dpi},
        {Setting::JPEGQuality, v.quality},
        {Setting::EachPage, v.eachPage ? QStringLiteral("1") : QStringLiteral("0")},
        {Setting::Range, v.range ? QStringLiteral("1") : QStringLiteral("0")},
        {Setting::FirstPage, v.firstPage},
        {Setting::LastPage, v.lastPage}};
    for (const auto& [id, value] : keys) {
        if (!WriteSetting(id, value)) // its box has said why
            return false;
    }
    return true;
}

QString ReadPasswordLine() {
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

// The job list of the run: every named PDF, in order, each once. Nothing is opened here: the
// engine finds out whether a file is a PDF, needs a password and how many pages it has when it
// converts it. Returns whether all inputs made it.
bool BuildJobList(const BatchOptions& o, const QString* password, TPdfList& list) {
    bool allListed = true;
    QStringList missing;
    const QStringList files = ExpandPdfPaths(o.inputs, &missing);
    for (const QString& path : missing) {
        // A name that is not UTF-8 arrives with replacement characters and cannot be found;
        // "No such file" would send the user looking for a file that is there.
        Fail(path, path.contains(QChar::ReplacementCharacter)
                       ? QStringLiteral("the name is not valid UTF-8, which is the only encoding "
                                        "of file names this program reads")
                       : QStringLiteral("No such file or directory"));
        allListed = false;
    }
    QSet<QString> seen;
    for (const QString& path : files) {
        if (!HasPdfExtension(path)) {
            Fail(path, QStringLiteral("not a PDF file (the name must end in .pdf)"));
            allListed = false;
            continue;
        }
        if (seen.contains(path))
            continue;
        seen.insert(path);
        auto entry = std::make_unique<TPdffile>(path, QFileInfo(path).fileName(), QString(),
                                                QString(), QString(), true);
        entry->setPassword(password ? *password : QString());
        entry->setProbeResult(QString(), StateTrue, QString());
        list.append(std::move(entry));
    }
    return allListed;
}

// The engines of a run wait this long after it for the next run to take them over, in a private
// folder beside the cache's entries: a shell loop starting us for every few files then pays for
// starting an engine once. PX_ENGINE_REST_MS set to 0 turns it off.
void LetEnginesRest(const QString& entryFolder) {
    constexpr int RestMs = 2000;
    const QString folder = QDir::cleanPath(entryFolder + QStringLiteral("../.rest"));
    QString error;
    if (!platform::EnsurePrivateFolder(folder, &error))
        return;
    qputenv("PX_ENGINE_REST_DIR", QFile::encodeName(folder));
    if (!qEnvironmentVariableIsSet("PX_ENGINE_REST_MS"))
        qputenv("PX_ENGINE_REST_MS", QByteArray::number(RestMs));
}

// Points LibraryDir at the renderer unpacked in the user's engine cache; empty, or why not.
QString PrepareRenderer() {
    const QString package =
        platform::ProgramFolder() + platform::fromAnsi(DecipherName(EncRenderPackageName));
    QString error;
    const QString folder = PrepareEngineCache(package, &error);
    if (folder.isEmpty())
        return error;
    LibraryDir = folder;
    try {
        PackageCheck();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    // The pass reveals the engine's entry names itself, while the engine starts.
    RasterizeProcName.clear();
    LetEnginesRest(folder);
    return QString();
}

// One engine per core. A short list on a machine already busy (the other runs of an xargs -P
// beside this one, say) gets no more engines than there are idle cores: more would only compete
// for the busy ones, and the list ends when its slowest engine does. Nor does it get more than
// the engines resting from earlier runs, when there are any: starting one costs as much as
// drawing a handful of small files. A long list takes every core, as a moment's load at its
// start says little about the minutes it runs.
int DefaultJobs(qsizetype files) {
    const int cores = std::max(1, QThread::idealThreadCount());
    if (files > 4 * qsizetype(cores))
        return cores;
    int jobs = std::max(1, cores - platform::ProcessorsBusyElsewhere());
    const QByteArray restFolder = qgetenv("PX_ENGINE_REST_DIR");
    const int restMs = qEnvironmentVariableIntValue("PX_ENGINE_REST_MS");
    if (!restFolder.isEmpty() && restMs > 0) {
        if (const int resting = platform::FreshSockets(QFile::decodeName(restFolder), restMs))
            jobs = std::min(jobs, resting);
    }
    return jobs;
}

// Files side by side share the engine's memory budget for bitmaps, which each companion
// otherwise takes whole. A share smaller than a page still draws one page at a time, as a
// companion always may. A budget the user set stays as it is. The share follows the cores as
// well as the jobs: engines resting between runs are only taken over under the same settings,
// and the runs of an xargs beside each other choose different numbers of jobs.
void ShareRenderMemory(int jobs) {
    constexpr int WholeBudgetMb = 512;
    constexpr int LeastShareMb = 8;
    const int shares = std::max(jobs, QThread::idealThreadCount());
    if (shares > 1 && qEnvironmentVariableIsEmpty("PX_BITMAP_BUDGET_MB"))
        qputenv("PX_BITMAP_BUDGET_MB",
                QByteArray::number(std::max(LeastShareMb, WholeBudgetMb / shares)));
}

struct ListOutcome {
    bool allConverted = false;
    int signal = 0; // the signal that interrupted the run, or 0
};

// One conversion pass over the list, reported as lines. An interrupt stops it like the window's
// Stop: the file in hand is cancelled and its partial files removed.
ListOutcome ConvertList(TPdfList& list, int jobs) {
    BatchReport report(list, ::isatty(STDOUT_FILENO) == 1);
    StopRequested = false;
    const InterruptGuard interrupts([] {
        StopRequested = true;
        CancelRendering();
    });
    SetConvertJobs(jobs);
    SetConvertUncounted(true);
    TProcThread worker(ModeConvert);
    worker.setEvents(&report);
    worker.Resume();
    worker.WaitFor();
    return {!report.failed(), interrupts.Signal()};
}

int ConvertFiles(const BatchOptions& o) {
    OptionValues values;
    const QString problem = BatchOptionValues(o, ini::ReadFile(SettingsFilePath()), values);
    if (!problem.isEmpty())
        return UsageError(problem);
    // A folder named on the command line is made with its parents, as shell users expect.
    if (o.output)
        QDir().mkpath(values.outputFolder);
    if (!CheckOutputFolder(values.outputFolder))
        return UsageError(
            QStringLiteral("the output folder %1 cannot be used").arg(values.outputFolder));
    // Options that could not be stored make the run a partial success at best.
    const bool saved = !o.saveOptions || SaveValues(values);
    BuildConversionOptions(values, ConversionOptions);

    const QString password = o.passwordFromStdin ? ReadPasswordLine() : QString();
    TPdfList list;
    bool allConverted = BuildJobList(o, o.passwordFromStdin ? &password : nullptr, list) && saved;
    if (list.count() == 0)
        return allConverted ? 0 : 1;

    if (const QString error = PrepareRenderer(); !error.isEmpty()) {
        PrintText(
            stderr,
            QStringLiteral("pixolund convert: the renderer cannot be set up: %1\n").arg(error));
        return 1;
    }
    // Told, never refused: the files still convert with what the kernel has.
    if (const QString shortfall = platform::SandboxShortfall(); !shortfall.isEmpty())
        PrintText(stderr, QStringLiteral("pixolund convert: %1\n").arg(shortfall));
    const int jobs = o.jobs.value_or(DefaultJobs(list.count()));
    ShareRenderMemory(jobs);
    PdfFileList = &list;
    const ListOutcome outcome = ConvertList(list, jobs);
    PdfFileList = nullptr;
    if (outcome.signal != 0) {
        PrintText(stderr, QStringLiteral("pixolund convert: interrupted\n"));
        return 128 + outcome.signal;
    }
    return outcome.allConverted && allConverted ? 0 : 1;
}

} // namespace

QString BatchOptionValues(const BatchOptions& options, const QByteArray& settingsContent,
                          OptionValues& values) {
    values = ReadStoredOptions(settingsContent).values;
    ApplyChoices(options, values);
    return CheckValues(values);
}

int RunBatch(const QStringList& arguments) {
    const BatchParse parse = ParseBatchArguments(arguments);
    if (!parse.error.isEmpty())
        return UsageError(parse.error);
    const BatchOptions& o = parse.options;
    if (o.help) {
        PrintText(stdout, BatchUsage());
        return 0;
    }
    if (o.version) {
        const QStringList texts = RevealHiddenTextsUtf16({HidProductName, HidVersionLine});
        PrintText(stdout, QStringLiteral("%1 %2\n").arg(
                              texts.value(0), texts.value(1).section(QLatin1Char(' '), -1)));
        return 0;
    }
    // The passes' own boxes never wait for a user here: they become lines.
    platform::SetMessageBoxHandler([](platform::BoxKind kind, const QString& text) {
        PrintText(stderr, QStringLiteral("pixolund convert: %1\n").arg(text));
        return kind == platform::BoxKind::Warning ? platform::BoxAnswer::No
                                                  : platform::BoxAnswer::Ok;
    });
    const int status = ConvertFiles(o);
    platform::SetMessageBoxHandler({});
    return status;
}
