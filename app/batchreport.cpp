#include "app/batchreport.h"

#include "engine/pdffile.h"

#include <QFile>

#include <cerrno>
#include <unistd.h>

void PrintText(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString BatchReport::PathAt(int position) const {
    const TPdffile* entry = m_list.at(position);
    return entry ? entry->FilePath() : QString();
}

void BatchReport::ClearProgressLine() {
    if (m_lineOpen)
        PrintText(stdout, QStringLiteral("\r\033[K"));
    m_lineOpen = false;
}

void BatchReport::PagesDone(int position, const PageProgress& progress) {
    std::lock_guard lock(m_mutex);
    if (!m_terminal || progress.pagesInRange <= 0)
        return;
    PrintText(stdout, QStringLiteral("\r\033[K[%1/%2] %3: page %4 of %5")
                          .arg(m_finished.size() + 1)
                          .arg(m_list.count())
                          .arg(PathAt(position))
                          .arg(progress.pageInHand())
                          .arg(progress.pagesInRange));
    m_lineOpen = true;
}

void BatchReport::FileConverted(int position) {
    std::lock_guard lock(m_mutex);
    m_finished.insert(position);
    if (!m_terminal)
        return;
    ClearProgressLine();
    PrintText(stdout, QStringLiteral("[%1/%2] %3: done\n")
                          .arg(m_finished.size())
                          .arg(m_list.count())
                          .arg(PathAt(position)));
}

// The engine tells why it could not open a file only by its error: a file it never counted the
// pages of and that can be read was refused for its password or its content.
QString BatchReport::Reason(int position, const QString& reason, int error) const {
    const TPdffile* entry = m_list.at(position);
    if (!entry || !entry->Pages().isEmpty())
        return reason;
    if (error == EACCES && ::access(QFile::encodeName(entry->FilePath()).constData(), R_OK) == 0)
        return entry->Password().isEmpty()
                   ? QStringLiteral("The file is password protected. Give its password with "
                                    "--password-stdin.")
                   : QStringLiteral("wrong password");
    if (error == EINVAL)
        return QStringLiteral("File Format is not Valid.");
    return reason;
}

bool BatchReport::FileFailed(int position, const QString& reason, int error) {
    const QString why = Reason(position, reason, error);
    std::lock_guard lock(m_mutex);
    m_finished.insert(position);
    m_failed = true;
    ClearProgressLine();
    PrintText(stderr, QStringLiteral("%1: %2\n").arg(PathAt(position), why));
    return true;
}

void BatchReport::FileStopped(int position) {
    std::lock_guard lock(m_mutex);
    m_finished.insert(position);
    m_failed = true;
    ClearProgressLine();
    PrintText(stderr, QStringLiteral("%1: stopped\n").arg(PathAt(position)));
}

void BatchReport::RunAborted(const QString& text) {
    FailTheRest(text);
}

void BatchReport::FailTheRest(const QString& reason) {
    std::lock_guard lock(m_mutex);
    ClearProgressLine();
    for (int i = 0; i < m_list.count(); ++i) {
        const TPdffile* entry = m_list.at(i);
        if (entry && IsConvertible(entry->State()) && !m_finished.contains(i)) {
            m_finished.insert(i);
            m_failed = true;
            PrintText(stderr, QStringLiteral("%1: %2\n").arg(entry->FilePath(), reason));
        }
    }
}

void BatchReport::Fatal(const QString& text) {
    // "Error opening a PDF file.(reason)" names the file's reason; other texts stand as they are.
    static const QString prefix = QStringLiteral("Error opening a PDF file.(");
    if (text.startsWith(prefix) && text.endsWith(QLatin1Char(')')))
        FailTheRest(text.mid(prefix.size(), text.size() - prefix.size() - 1));
    else
        FailTheRest(text);
}

void BatchReport::PassError(const QString& message) {
    FailTheRest(message);
}

bool BatchReport::failed() const {
    std::lock_guard lock(m_mutex);
    return m_failed;
}
