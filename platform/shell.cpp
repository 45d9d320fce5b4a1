#include "platform/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QRegularExpression>

#include <mutex>

namespace platform {

namespace {

std::mutex handlerMutex;
std::function<void(const QString&)> shellHandler;

} // namespace

QUrl ShellUrl(const QString& target) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (!target.startsWith(u'/') && scheme.match(target).hasMatch())
        return QUrl(target, QUrl::TolerantMode);
    // fromLocalFile, not QUrl(path): "#" and "?" are part of a file name here.
    return QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
}

void ShellOpen(const QString& target) {
    std::function<void(const QString&)> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = shellHandler;
    }
    if (handler) {
        handler(target);
        return;
    }
    QDesktopServices::openUrl(ShellUrl(target));
}

void SetShellOpenHandler(std::function<void(const QString&)> handler) {
    std::lock_guard lock(handlerMutex);
    shellHandler = std::move(handler);
}

} // namespace platform
