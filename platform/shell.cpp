#include "platform/shell.h"

#include "platform/folders.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QRegularExpression>

#include <mutex>

namespace platform {

namespace {

std::mutex handlerMutex;
std::function<void(const QString&)> shellHandler;

} // namespace

namespace {

bool HasScheme(const QString& target) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return !target.startsWith(u'/') && scheme.match(target).hasMatch();
}

} // namespace

QString ShippedTarget(const QString& target) {
    if (target.isEmpty() || target.startsWith(u'/') || HasScheme(target))
        return target;
    const qsizetype hash = target.indexOf(u'#');
    QUrl url = QUrl::fromLocalFile(ProgramFolder() + target.left(hash < 0 ? target.size() : hash));
    if (hash >= 0)
        url.setFragment(target.mid(hash + 1));
    return url.toString(QUrl::FullyEncoded);
}

QUrl ShellUrl(const QString& target) {
    if (HasScheme(target))
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
