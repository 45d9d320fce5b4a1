#pragma once

#include <QString>

#include <stdexcept>

namespace platform {

// An error raised from a failed system call; what() holds the message as UTF-8.
class SystemError : public std::runtime_error {
public:
    explicit SystemError(const QString& text);
    QString text() const;
};

// Removes trailing blanks, line breaks and periods, as system message texts get.
QString TrimErrorText(QString text);

// The system's text for an errno value, with trailing blanks, line breaks and periods removed.
QString systemErrorText(int code);

// systemErrorText(errno) of the calling thread.
QString lastErrorText();

// Throws SystemError(lastErrorText()) when ok is false.
void RaiseIfFailed(bool ok);

} // namespace platform
