#include "platform/winmsg.h"

#include <QCoreApplication>

#include <mutex>

namespace platform {

namespace {

std::mutex targetMutex;
QObject* target = nullptr;

} // namespace

void SetMainWindow(QObject* newTarget) {
    std::lock_guard lock(targetMutex);
    target = newTarget;
}

bool PostMessage(int msg, qintptr wParam, qintptr lParam) {
    // Held while posting, so the target cannot finish clearing itself in between.
    std::lock_guard lock(targetMutex);
    if (!target)
        return false;
    QCoreApplication::postEvent(target, new WindowMessage(msg, wParam, lParam));
    return true;
}

} // namespace platform
