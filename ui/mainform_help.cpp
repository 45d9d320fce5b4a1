// The Help button's menu and the About window. Every target and text is revealed at the moment
// the command runs; nothing is kept between commands.
#include "platform/folders.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/sandboxprobe.h"
#include "platform/shell.h"
#include "ui/aboutform.h"
#include "ui/mainform.h"

#include <QMenu>
#include <QToolButton>

void TMainForm::sBitBtn6Click() {
    pm1->popup(sBitBtn6->mapToGlobal(QPoint(0, sBitBtn6->height())));
}

void TMainForm::Help1Click() {
    platform::ShellOpen(platform::ShippedTarget(RevealHiddenText(HidHelpFile)));
}

void TMainForm::Support1Click() {
    platform::ShellOpen(platform::ShippedTarget(RevealHiddenText(HidSupportPage)));
}

void TMainForm::ProductPage1Click() {
    platform::ShellOpen(platform::ShippedTarget(RevealHiddenText(HidProductPage)));
}

void TMainForm::About1Click() {
    TAboutForm* about = AboutForm;
    if (about == nullptr)
        return;
    const QStringList texts =
        RevealHiddenTextsUtf16({HidProductName, HidVersionLine, HidSupportPage, HidHomePage,
                                HidNoticeLine, HidSupportEmail});
    about->sLabel2->setText(texts.value(0));
    about->sLabel3->setText(texts.value(1));
    about->sLabel7->setText(texts.value(2));
    about->sLabel5->setText(texts.value(3));
    // What the engine's sandbox lacks on this kernel goes under the notice; nothing when complete.
    const QString shortfall = platform::SandboxShortfall();
    about->sLabel1->setText(shortfall.isEmpty() ? texts.value(4)
                                                : texts.value(4) + QLatin1Char('\n') + shortfall);
    about->sLabel9->setText(texts.value(5));
    const QList<QLabel*> grown = {about->sLabel2, about->sLabel3, about->sLabel5, about->sLabel7,
                                  about->sLabel9};
    for (QLabel* label : grown)
        label->adjustSize();
    if (!shortfall.isEmpty())
        about->sLabel1->adjustSize();
    // Not kept on the screen: a window partly off it is where the user asked for it.
    CentreOnMe(about);
    about->exec();
}
