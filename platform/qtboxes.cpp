#include "platform/msgbox.h"
#include "platform/shell.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {

BoxAnswer showQtBox(BoxKind kind, const QString& text) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (kind) {
    case BoxKind::Information:
        icon = QMessageBox::Information;
        break;
    case BoxKind::Error:
        icon = QMessageBox::Critical;
        break;
    case BoxKind::Warning:
        icon = QMessageBox::Warning;
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case BoxKind::Plain:
        break;
    }
    QMessageBox box(icon, QStringLiteral("Pixolund"), text, buttons, QApplication::activeWindow());
    // Messages carry file names and system texts: never let "<" turn them into markup.
    box.setTextFormat(Qt::PlainText);
    const int clicked = box.exec();
    if (kind == BoxKind::Warning)
        return clicked == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
    return BoxAnswer::Ok;
}

} // namespace

void InstallQtMessageBoxes() {
    SetMessageBoxHandler(showQtBox);
}

} // namespace platform
