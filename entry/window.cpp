// The window's entry (started by the launcher, main.cpp): one instance per user, the five
// windows in their order, the message loop. Files named on the command line, or handed over by
// a later start, are added as Add Files adds them.

#include "platform/handover.h"
#include "platform/instance.h"
#include "platform/shell.h"
#include "ui/aboutform.h"
#include "ui/infoform.h"
#include "ui/loadfileform.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/passwordinputform.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

const QString Title = QStringLiteral("Pixolund");

// The paths among the arguments, made absolute (a running instance has another current folder).
QStringList PathArguments(int argc, char* argv[]) {
    QStringList paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (!optionsEnded && argument == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        // Options are Qt's own (-platform, -style ...) and taken by the application object.
        if (!optionsEnded && argument.startsWith(QLatin1Char('-')))
            continue;
        paths.append(QFileInfo(argument).absoluteFilePath());
    }
    return paths;
}

} // namespace

int main(int argc, char* argv[]) {
    const QStringList paths = PathArguments(argc, argv);

    // A second start hands its files to the running window and ends at once. Tested before the
    // application object exists, so it needs no display either. Its exit status tells whether
    // the files were taken: a script starting us must not take a lost hand-over for success.
    const platform::SingleInstance instance(Title);
    if (!instance.isFirst()) {
        QCoreApplication app(argc, argv);
        QString reason;
        if (platform::SendToRunningInstance(
                platform::HandoverSocketPath(instance.path()), paths,
                [&instance] { return instance.holderRuns(); }, &reason))
            return 0;
        std::fprintf(stderr, "%s is running but did not take the files: %s\n", qPrintable(Title),
                     qPrintable(reason));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(Title);
    ApplyLook(app);
    platform::InstallQtMessageBoxes();

    // FormCreate of the main window runs before the other windows exist.
    TMainForm mainForm;
    // The other windows belong to the main one: they stay above it only, and are never
    // minimised alone.
    TLoadFileForm loadFileForm(&mainForm);
    TInfoForm infoForm(&mainForm);
    TPasswordInputForm passwordInputForm(&mainForm);
    TAboutForm aboutForm(&mainForm);

    platform::HandoverServer handover(platform::HandoverSocketPath(instance.path()));
    QObject::connect(&handover, &platform::HandoverServer::received, &mainForm,
                     &TMainForm::AddFilesFromOutside);

    mainForm.show();
    if (!paths.isEmpty())
        QTimer::singleShot(0, &mainForm,
                           [&mainForm, paths] { mainForm.AddFilesFromOutside(paths); });
    return QApplication::exec();
}
