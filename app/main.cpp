// Program entry: one instance per user, the five windows in their order, the message loop.

#include "platform/instance.h"
#include "platform/shell.h"
#include "ui/aboutform.h"
#include "ui/infoform.h"
#include "ui/loadfileform.h"
#include "ui/look.h"
#include "ui/mainform.h"
#include "ui/passwordinputform.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // A second start shows nothing and ends at once; the running instance is not disturbed.
    // Tested before the application object exists, so it needs no display either.
    const platform::SingleInstance instance(QStringLiteral("Pixolund"));
    if (!instance.isFirst())
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixolund"));
    ApplyLook(app);
    platform::InstallQtMessageBoxes();

    // FormCreate of the main window runs before the other windows exist.
    TMainForm mainForm;
    TLoadFileForm loadFileForm;
    TInfoForm infoForm;
    TPasswordInputForm passwordInputForm;
    TAboutForm aboutForm;

    mainForm.show();
    return QApplication::exec();
}
