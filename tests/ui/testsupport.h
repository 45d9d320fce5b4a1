#pragma once

// Shared by the window tests: a throw-away user (home, documents, settings, temporary and
// runtime folders) and recorders for message boxes and shell hand-offs.

#include "app/settings.h"
#include "platform/msgbox.h"
#include "platform/shell.h"
#include "ui/look.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QPalette>
#include <QTemporaryDir>

#include <cstdlib>

class Sandbox {
public:
    Sandbox() {
        for (const char* sub : {"home/Documents", "data", "tmp", "run", "config"})
            QDir().mkpath(m_dir.filePath(QString::fromLatin1(sub)));
        QFile::setPermissions(m_dir.filePath("run"), QFileDevice::ReadOwner |
                                                         QFileDevice::WriteOwner |
                                                         QFileDevice::ExeOwner);
        set("HOME", "home");
        set("XDG_DATA_HOME", "data");
        set("TMPDIR", "tmp");
        set("XDG_RUNTIME_DIR", "run");
        set("XDG_CONFIG_HOME", "config");
    }

    QString path(const QString& sub) const { return m_dir.filePath(sub); }
    QString root() const { return m_dir.path(); }

private:
    void set(const char* name, const char* sub) {
        ::setenv(name, QFile::encodeName(m_dir.filePath(QString::fromLatin1(sub))).constData(), 1);
    }
    QTemporaryDir m_dir;
};

struct Box {
    platform::BoxKind kind;
    QString text;
};

// Answers every box with `answer` and remembers it; remembers every shell hand-off instead of
// launching anything.
class Recorder {
public:
    Recorder() {
        platform::SetMessageBoxHandler([this](platform::BoxKind kind, const QString& text) {
            boxes.append({kind, text});
            return kind == platform::BoxKind::Warning ? answer : platform::BoxAnswer::Ok;
        });
        platform::SetShellOpenHandler([this](const QString& target) { opened.append(target); });
    }
    ~Recorder() {
        platform::SetMessageBoxHandler({});
        platform::SetShellOpenHandler({});
    }
    QStringList texts() const {
        QStringList all;
        for (const Box& box : boxes)
            all.append(box.text);
        return all;
    }

    QList<Box> boxes;
    QStringList opened;
    platform::BoxAnswer answer = platform::BoxAnswer::No;
};

// Gives the program a light (the default) or a dark desktop palette, as a desktop theme does,
// and applies the look that follows it.
inline void UseDesktopPalette(bool dark) {
    QPalette desktop;
    if (dark) {
        desktop.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        desktop.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        desktop.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        desktop.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
        desktop.setColor(QPalette::Highlight, QColor(0x3d, 0x5a, 0x80));
    }
    QApplication::setPalette(desktop);
    ApplyLook(*qApp);
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

// The settings file as lines of text, without the line breaks.
inline QStringList SettingsLines() {
    return QString::fromUtf8(ReadAll(SettingsFilePath())).split(u'\n', Qt::SkipEmptyParts);
}
