// Times Add Files in the real main window (offscreen platform) on every PDF of a folder: from
// the file dialog's answer until the probe window has closed and every row is drawn. The
// information tool is found beside this program or on PATH.
//
//   add_files_bench <folder>
//
// Prints the file count and the seconds; exit status 1 when not every file got its row.
#include "engine/pdffile.h"
#include "platform/msgbox.h"
#include "ui/infoform.h"
#include "ui/loadfileform.h"
#include "ui/mainform.h"
#include "ui/openfiles.h"

#include <QApplication>
#include <QDir>
#include <QTableWidget>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    // A throw-away user: nothing of the caller's settings is read or written.
    QTemporaryDir user;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        ::setenv(name, QFile::encodeName(user.path()).constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    QStringList paths;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (const QString& name : folder.entryList({QStringLiteral("*.pdf")}, QDir::Files))
        paths.append(folder.absoluteFilePath(name));

    platform::SetMessageBoxHandler([](platform::BoxKind, const QString& text) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text.left(200)));
        return platform::BoxAnswer::Ok;
    });
    auto main = std::make_unique<TMainForm>();
    auto probe = std::make_unique<TLoadFileForm>();
    auto info = std::make_unique<TInfoForm>();
    main->show();
    QApplication::processEvents();
    SetChoosePdfFilesHook([paths] { return paths; });

    const auto start = std::chrono::steady_clock::now();
    main->sBitBtn2Click(); // returns once the probe window has closed
    QApplication::processEvents();
    main->ListView1->viewport()->grab(); // the rows are drawn
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

    const int rows = main->ListView1->rowCount();
    std::printf("%d files, %d rows: %.2f s\n", int(paths.size()), rows, took.count());
    SetChoosePdfFilesHook({});
    platform::SetMessageBoxHandler({});
    info.reset();
    probe.reset();
    main.reset();
    return rows == paths.size() ? 0 : 1;
}
