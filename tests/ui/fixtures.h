#pragma once

// Real PDFs for the window tests, made by the rendering tests' fixture script, the real
// information tool first on PATH for as long as the fixture lives, and the program's windows on
// a throw-away user.

#include "testsupport.h"

#include "engine/pdffile.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "ui/infoform.h"
#include "ui/loadfileform.h"
#include "ui/mainform.h"
#include "ui/openfiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>

#include <memory>

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
    // A one-page PDF whose page paints 10^levels full-page shapes: about 1.3 s at 72 DPI for
    // levels 4, minutes for 6.
    QString heavy(int levels) const {
        return generated(QStringLiteral("heavy%1.pdf").arg(levels),
                         QStringLiteral("heavy_page(levels=%1)").arg(levels));
    }

    // Eight small pages; the fifth takes minutes.
    QString eightWithHeavyFifth() const {
        return generated(QStringLiteral("eight.pdf"), QStringLiteral("eight_with_heavy_fifth()"));
    }

    // A PDF written by one call of the fixture script.
    QString generated(const QString& name, const QString& call) const {
        const QString target = m_dir.filePath(name);
        QProcess script;
        script.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sys; sys.path.insert(0, sys.argv[1]); "
                                     "import make_fixtures as m; "
                                     "open(sys.argv[2], 'wb').write(m.%1)")
                          .arg(call),
                      QFileInfo(QStringLiteral(FIXTURE_SCRIPT)).path(), target});
        script.waitForFinished(60000);
        return target;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
    bool m_ok = false;
};

// The main window with its probe and finished windows, on a throw-away user.
struct Windows {
    Sandbox sandbox;
    Recorder recorder;
    std::unique_ptr<TMainForm> main = std::make_unique<TMainForm>();
    std::unique_ptr<TLoadFileForm> probe = std::make_unique<TLoadFileForm>();
    std::unique_ptr<TInfoForm> info = std::make_unique<TInfoForm>();

    ~Windows() {
        SetChoosePdfFilesHook({});
        info.reset();
        probe.reset();
        main.reset();
    }

    // Add Files with the dialog answering `paths`; returns when the probe window has closed.
    void add(const QStringList& paths) {
        SetChoosePdfFilesHook([paths] { return paths; });
        main->sBitBtn2Click();
    }
    QString cell(int row, int column) const {
        const QTableWidgetItem* item = main->ListView1->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    QStringList column(int column) const {
        QStringList texts;
        for (int row = 0; row < main->ListView1->rowCount(); ++row)
            texts << cell(row, column);
        return texts;
    }
    QStringList states() const {
        QStringList all;
        for (int i = 0; i < PdfFileList->count(); ++i)
            all << PdfFileList->at(i)->State();
        return all;
    }
    // Centre of a cell in viewport coordinates.
    QPoint centre(int row, int column) const {
        return main->ListView1->visualRect(main->ListView1->model()->index(row, column)).center();
    }
    // Entries appended already listed, as if an earlier probe pass had shown them.
    void listed(const QStringList& states) {
        for (const QString& state : states) {
            const QString name = QStringLiteral("%1.pdf").arg(PdfFileList->count());
            auto entry = std::make_unique<TPdffile>("/in/" + name, name, "1.00 KB ", "", "", false);
            entry->setProbeResult(state == StateProtected || state == StateFalse ? "" : "2", state,
                                  "");
            PdfFileList->append(std::move(entry));
        }
        main->setListView(platform::WindowMessage(WM_SETLISTVIEW, 0, 0));
    }
};
