#pragma once

#include "engine/events.h"

#include <QSet>

#include <cstdio>
#include <mutex>

class TPdfList;

// Prints text to a stream whole and at once, in the locale's encoding.
void PrintText(FILE* stream, const QString& text);

// The convert command's side of the engine: a progress line per file on a terminal, each
// failure as "file: reason" on standard error, and the run goes on after a failed file.
class BatchReport final : public EngineEvents {
public:
    BatchReport(const TPdfList& list, bool terminal) : m_list(list), m_terminal(terminal) {}

    void FileProbed(int, int) override {}
    void ProbeEnded() override {}
    void FileStarted(int) override {}
    void RenderStarted(int) override {}
    void PagesDone(int position, const PageProgress& progress) override;
    void FileConverted(int position) override;
    bool FileFailed(int position, const QString& reason, int error) override;
    void FileStopped(int position) override;
    void RunEnded() override {}
    void RunAborted(const QString& text) override;
    void Fatal(const QString& text) override;
    void PassError(const QString& message) override;

    // Whether any file of the run failed.
    bool failed() const;

private:
    QString PathAt(int position) const;
    QString Reason(int position, const QString& reason, int error) const;
    // Fails every convertible file the run has not converted yet.
    void FailTheRest(const QString& reason);
    void ClearProgressLine();

    const TPdfList& m_list;
    const bool m_terminal;
    mutable std::mutex m_mutex; // events come from the pass and its progress watch
    QSet<int> m_finished;
    bool m_failed = false;
    bool m_lineOpen = false;
};
