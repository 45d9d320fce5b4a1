#include "platform/notify.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace platform {

void NotifyInBackground(QWidget* window, const QString& summary, const QString& body) {
    QApplication::alert(window);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QApplication::applicationName() << uint(0) << QStringLiteral("image-x-generic")
           << summary << body << QStringList() << QVariantMap() << int(-1);
    // Never waits: a missing or slow notification server must not hold up the window.
    bus.send(notify);
}

} // namespace platform
