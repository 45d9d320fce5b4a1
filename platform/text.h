#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The "system ANSI code page" is UTF-8 here, so a round trip loses nothing.
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);

} // namespace platform
