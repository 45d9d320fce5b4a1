#include "engine/events.h"
#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/renderapi.h"
#include "engine/renderfiles.h"
#include "platform/process.h"
#include "platform/text.h"

#include <atomic>
#include <deque>
#include <future>
#include <optional>

namespace {

const QString ProtectedText = QStringLiteral("The file is password protected.");
const QString NotValidText = QStringLiteral("File Format is not Valid.");

// The tool has a limit of its own; this one catches a tool that hangs regardless, so the probe
// window cannot stay up for ever.
std::atomic<int> probeTimeLimitMs{120000};

constexpr size_t ProbesAtOnce = 2;

// Writes one classified run into the entry; readable becomes readableState ("True" when
// probing, "Unprotected" when unlocking).
void StoreResult(TPdffile& entry, const ProbeClassification& result, const QString& readableState) {
    switch (result.outcome) {
    case ProbeOutcome::Readable:
        entry.setProbeResult(result.pages, readableState, QString());
        break;
    case ProbeOutcome::Protected:
        entry.setProbeResult(QString(), StateProtected, ProtectedText);
        break;
    case ProbeOutcome::NotReadable:
        entry.setProbeResult(QString(), StateFalse, NotValidText);
        break;
    }
}

// The page count: from the first "Pages:" up to the next "," (a line end in ProbeOutput), the
// part after the last blank.
QString PageCount(const QString& output) {
    QString probeOutput = output;
    probeOutput.replace(QStringLiteral("\r\n"), QStringLiteral(","));
    const qsizetype start = probeOutput.indexOf(QStringLiteral("Pages:"));
    if (start < 0)
        return QString();
    qsizetype end = probeOutput.indexOf(QLatin1Char(','), start);
    if (end < 0)
        end = probeOutput.size();
    const QString segment = probeOutput.mid(start, end - start);
    return segment.mid(segment.lastIndexOf(QLatin1Char(' ')) + 1);
}

} // namespace

ProbeClassification RunInfoTool(const QString& commandLine, const QString* password) {
    std::optional<QByteArray> input;
    if (password)
        input = platform::toAnsi(*password) + '\n';
    const platform::CaptureResult run =
        platform::RunAndCapture(commandLine, probeTimeLimitMs.load(), input);
    if (run.timedOut)
        return {};
    return ClassifyProbe(run.exitCode, run.output);
}

void SetProbeTimeLimit(int milliseconds) {
    probeTimeLimitMs.store(milliseconds);
}

ProbeClassification ClassifyProbe(quint32 exitCode, const QString& output) {
    ProbeClassification result;
    if (exitCode == 0) {
        result.outcome = ProbeOutcome::Readable;
        result.pages = PageCount(output);
    } else if (exitCode == 1 &&
               output.contains(QStringLiteral("INCORRECT PASSWORD"), Qt::CaseInsensitive)) {
        result.outcome = ProbeOutcome::Protected;
    }
    return result;
}

void ProbeAllPass(TProcThread& worker) {
    // The package is unpacked meanwhile, so that it is ready when a conversion starts.
    if (!RenderFilesPresent())
        StartPackageCheck();

    TPdfList* list = PdfFileList;
    // Entries appended while the pass runs lie behind this count and wait for the next pass.
    const int total = list ? list->count() : 0;
    // A run of the tool mostly waits for its process to start and end, so two run at once;
    // their results are still stored and reported in list order.
    struct Probe {
        int position;
        TPdffile* entry;
        std::future<ProbeClassification> result;
    };
    std::deque<Probe> running;
    int probed = 0;
    const auto finishOldest = [&] {
        Probe probe = std::move(running.front());
        running.pop_front();
        StoreResult(*probe.entry, probe.result.get(), StateTrue);
        worker.Events().FileProbed(probe.position, ++probed);
    };
    for (int i = 0; i < total; ++i) {
        worker.CheckPause();
        TPdffile* entry = list->at(i);
        if (!entry || entry->Listed())
            continue;
        running.push_back({i, entry, std::async(std::launch::async, [path = entry->FilePath()] {
                               return RunInfoTool(ProbeCommandLine(path));
                           })});
        if (running.size() == ProbesAtOnce)
            finishOldest();
    }
    while (!running.empty())
        finishOldest();
    worker.Events().ProbeEnded();
}

void UnlockPass(TProcThread& worker) {
    worker.CheckPause();
    TPdffile* entry = CurrentPdf;
    if (!entry || entry->State() != StateProtected)
        return;
    const QString password = entry->Password();
    StoreResult(*entry, RunInfoTool(UnlockCommandLine(entry->FilePath()), &password),
                StateUnprotected);
}
