#pragma once

#include "engine/events.h"

// The engine's events as the main window has always received them: window messages posted to
// it (WM_SETPROGRESS, WM_SETPROGRESSINLISTVIEW, ...) and message boxes shown from the worker.
// Page progress has no message of its own: it is kept for the window's progress polling. A file
// that failed or was stopped ends its row's progress like a converted one; its entry tells how.
class WindowEvents final : public EngineEvents {
public:
    void FileProbed(int position, int probed) override;
    void ProbeEnded() override;
    void FileStarted(int position) override;
    void RenderStarted(int position) override;
    void PagesDone(int position, const PageProgress& progress) override;
    void FileConverted(int position) override;
    bool FileFailed(int position, const QString& reason, int error) override;
    void FileStopped(int position) override;
    void RunEnded() override;
    void RunAborted(const QString& text) override;
    void Fatal(const QString& text) override;
    void PassError(const QString& message) override;

    // A run starts: forget how the last one ended.
    static void BeginRun();
    // Whether the run ended with RunAborted (its box said why) rather than at its end.
    static bool RunWasAborted();

    // The latest page progress of the file at `position`; zero when it has none. Any thread.
    static PageProgress LatestProgress(int position);
};

// The events a worker reports to unless it was given others.
EngineEvents& DefaultEngineEvents();
