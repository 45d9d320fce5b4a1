#include "app/lifecycle.h"

#include "engine/passes.h"
#include "engine/pdffile.h"
#include "engine/procthread.h"
#include "engine/provisioning/provisioning.h"
#include "platform/errors.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/msgbox.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <thread>

using platform::BoxAnswer;
using platform::BoxKind;

namespace {

// How long shutdown waits for a worker that was asked to stop.
constexpr int ShutdownWaitMs = 5000;

// An extraction of the package is under way on its own thread.
std::atomic<bool> extracting{false};

} // namespace

void SetUpLibraryDirAtStart() {
    QString why;
    if (SetUpLibraryDir(&why))
        return;
    platform::MessageBox(BoxKind::Error,
                         QStringLiteral("The renderer's working folder cannot be used:\n%1\n\n"
                                        "Files cannot be converted until this is fixed.")
                             .arg(why));
}

void RevealPackagePasswords() {
    const QList<QByteArray> passwords =
        RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
    PackagePassword = passwords.value(0);
    InnerPackagePassword = passwords.value(1);
}

bool AskCloseDuringConversion(bool conversionRunning) {
    if (WorkerThread == nullptr || !conversionRunning)
        return true;
    try {
        WorkerThread->Suspend();
        const BoxAnswer answer = platform::MessageBox(
            BoxKind::Warning, QStringLiteral("Are you sure you want to stop processing?"));
        // The worker is paused at a safe point, so it cannot have ended while the box was open;
        // reading the reference again still guards against a worker that ended before pausing.
        TProcThread* worker = WorkerThread;
        if (answer != BoxAnswer::Yes) {
            if (worker != nullptr)
                worker->ResumeFromPause();
            return false;
        }
        RenderFinished = true;
        // The terminate request also releases the pause. Placing it first means the worker runs
        // on already told to end, so it never takes up another file that the shutdown would
        // then have to wait for.
        if (worker != nullptr)
            worker->Terminate();
        // The file being rendered is abandoned rather than finished, so the program can end now.
        CancelRendering();
        return true;
    } catch (const std::exception& e) {
        platform::MessageBox(BoxKind::Error,
                             QStringLiteral("Error: %1").arg(QString::fromUtf8(e.what())));
        return true;
    }
}

void ReleaseJobsAndPackage() {
    // After Yes to the close question a worker may still be finishing its file, and after
    // WM_TERMAPP one may still be running at all: nothing it uses may go away before it has
    // left. The program is ending, so a worker still at work is asked to stop first.
    if (WorkerThread != nullptr)
        WorkerThread->Terminate();
    CancelRendering();
    if (!TProcThread::WaitForAll(ShutdownWaitMs)) {
        // A render call that does not come back must not keep the process, and with it the
        // single-instance lock, alive: the system frees everything else the process holds.
        DeleteRenderFiles();
        std::_Exit(0);
    }
    WaitForPackageChecks();
    WaitForExtraction();
    if (PdfFileList == nullptr)
        return;
    PdfFileList->clear();
    delete PdfFileList;
    PdfFileList = nullptr;
    DeleteRenderFiles();
}

void CreateTempLib() {
    // One extraction at a time; a request meanwhile is served by the one under way.
    if (extracting.exchange(true))
        return;
    // Unpacking tens of megabytes would freeze the window; a conversion waiting for the files
    // follows ExtractionCount(), and the error box is handed to the GUI thread.
    std::thread([] {
        try {
            CreateTempLibFiles();
        } catch (const std::exception& e) {
            try {
                platform::MessageBox(BoxKind::Error, QString::fromUtf8(e.what()));
            } catch (...) {
            }
        }
        extracting.store(false); // last touch of shared state but the waiters' wake
        platform::WakeServicingWaiters();
    }).detach();
}

void WaitForExtraction() {
    platform::WaitServicingGui([] { return !extracting.load(); });
}
