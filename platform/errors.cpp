#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// strerror() is not thread-safe; strerror_r comes in a GNU and a POSIX flavour.
[[maybe_unused]] const char* pickMessage(const char* gnuResult, const char*) {
    return gnuResult;
}
[[maybe_unused]] const char* pickMessage(int posixResult, const char* buffer) {
    return posixResult == 0 ? buffer : nullptr;
}

} // namespace

SystemError::SystemError(const QString& text) : std::runtime_error(text.toUtf8().toStdString()) {}

QString SystemError::text() const {
    return QString::fromUtf8(what());
}

QString TrimErrorText(QString text) {
    qsizetype end = text.size();
    while (end > 0) {
        const QChar c = text.at(end - 1);
        if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n' && c != u'.')
            break;
        --end;
    }
    text.truncate(end);
    return text;
}

QString systemErrorText(int code) {
    char buffer[256] = {};
    const char* message = pickMessage(strerror_r(code, buffer, sizeof buffer), buffer);
    return TrimErrorText(message ? QString::fromLocal8Bit(message)
                                 : QStringLiteral("Unknown error %1").arg(code));
}

QString lastErrorText() {
    return systemErrorText(errno);
}

void RaiseIfFailed(bool ok) {
    if (!ok)
        throw SystemError(lastErrorText());
}

} // namespace platform
