#pragma once

// Real PDFs for the window tests, made by the rendering tests' fixture script, and the real
// information tool first on PATH for as long as the fixture lives.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

class PdfFixtures {
public:
    PdfFixtures() : m_path(qgetenv("PATH")) {
        QProcess script;
        script.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(FIXTURE_SCRIPT), m_dir.filePath(QStringLiteral("pdf"))});
        m_ok = script.waitForFinished(120000) && script.exitStatus() == QProcess::NormalExit &&
               script.exitCode() == 0;
        qputenv("PATH", QByteArray(PIXOLUND_BIN_DIR) + ':' + m_path);
    }
    ~PdfFixtures() { qputenv("PATH", m_path); }
    PdfFixtures(const PdfFixtures&) = delete;
    PdfFixtures& operator=(const PdfFixtures&) = delete;

    bool ok() const { return m_ok; }
    // A fixture by name ("three.pdf", "aes-256.pdf", ...).
    QString pdf(const QString& name) const { return m_dir.filePath(QStringLiteral("pdf/") + name); }
    // A copy of a fixture under another path (folders are made), for names the script lacks.
    QString copy(const QString& name, const QString& relativeTarget) const {
        const QString target = m_dir.filePath(relativeTarget);
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        QFile::copy(pdf(name), target);
        return target;
    }
    QString root() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
    bool m_ok = false;
};
