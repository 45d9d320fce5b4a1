#include "platform/text.h"

namespace platform {

QByteArray toAnsi(const QString& text) {
    return text.toUtf8();
}

QString fromAnsi(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

} // namespace platform
