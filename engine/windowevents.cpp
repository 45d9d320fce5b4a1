#include "engine/windowevents.h"

#include "platform/messages.h"
#include "platform/msgbox.h"
#include "platform/winmsg.h"

#include <atomic>
#include <mutex>

namespace {

// Written by the pass's progress watch, read by the GUI thread's polling.
std::mutex progressMutex;
int progressPosition = -1;
PageProgress latestProgress;
std::atomic<bool> runAborted{false};

void PostRowProgress(int position, int percent) {
    platform::PostMessage(WM_SETPROGRESSINLISTVIEW, 0,
                          platform::PackProgress(position + 1, percent));
}

void KeepProgress(int position, const PageProgress& progress) {
    std::lock_guard lock(progressMutex);
    progressPosition = position;
    latestProgress = progress;
}

} // namespace

void WindowEvents::FileProbed(int position, int probed) {
    platform::PostMessage(WM_SETPROGRESS, position, platform::PackProgress(probed, 100));
}

void WindowEvents::ProbeEnded() {
    platform::PostMessage(WM_SETLISTVIEW, 0, 0);
}

void WindowEvents::FileStarted(int position) {
    KeepProgress(position, {});
    PostRowProgress(position, 0);
}

void WindowEvents::RenderStarted(int position) {
    PostRowProgress(position, 95);
}

void WindowEvents::PagesDone(int position, const PageProgress& progress) {
    KeepProgress(position, progress);
}

void WindowEvents::FileConverted(int position) {
    PostRowProgress(position, 100);
}

bool WindowEvents::FileFailed(int position, const QString& /*reason*/, int /*error*/) {
    PostRowProgress(position, 100);
    return true;
}

void WindowEvents::FileStopped(int position) {
    PostRowProgress(position, 100);
}

void WindowEvents::RunAborted(const QString& text) {
    runAborted.store(true);
    platform::MessageBox(platform::BoxKind::Error, text);
    platform::PostMessage(WM_SETENDCONVERT, 0, 0);
}

void WindowEvents::BeginRun() {
    runAborted.store(false);
}

bool WindowEvents::RunWasAborted() {
    return runAborted.load();
}

void WindowEvents::RunEnded() {
    platform::PostMessage(WM_SETENDCONVERT, 0, 0);
}

void WindowEvents::Fatal(const QString& text) {
    platform::MessageBox(platform::BoxKind::Plain, text);
    platform::PostMessage(WM_TERMAPP, 0, 0);
}

void WindowEvents::PassError(const QString& message) {
    platform::MessageBox(platform::BoxKind::Error, QStringLiteral("Error: ") + message);
}

PageProgress WindowEvents::LatestProgress(int position) {
    std::lock_guard lock(progressMutex);
    return position == progressPosition ? latestProgress : PageProgress{};
}

EngineEvents& DefaultEngineEvents() {
    static WindowEvents events;
    return events;
}
