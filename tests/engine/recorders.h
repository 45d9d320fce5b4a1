#pragma once

// Stand-ins for the GUI thread's side of a worker: the main window receiving window messages
// and the message boxes.
#include "platform/messages.h"
#include "platform/msgbox.h"
#include "platform/winmsg.h"

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QStringList>

#include <mutex>
#include <utility>

struct Message {
    int msg;
    qintptr wParam;
    qintptr lParam;
    bool operator==(const Message&) const = default;
};

// Stands in for the main window: records every window message posted to it.
class MessageRecorder : public QObject {
public:
    QList<Message> messages;

    // Delivers what the worker posted; call after the worker ended.
    QList<Message> take() {
        QCoreApplication::sendPostedEvents(this);
        return std::exchange(messages, {});
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() >= QEvent::Type(WM_SETLISTVIEW) &&
            e->type() <= QEvent::Type(WM_CREATETEMPLIB)) {
            const auto* m = static_cast<platform::WindowMessage*>(e);
            messages.append({m->msg(), m->wParam(), m->lParam()});
            return true;
        }
        return QObject::event(e);
    }
};

// Records message boxes; they are answered on the GUI thread (this test's main thread).
struct BoxRecorder {
    std::mutex mutex;
    QStringList texts;
    void install() {
        platform::SetMessageBoxHandler([this](platform::BoxKind kind, const QString& text) {
            std::lock_guard lock(mutex);
            const char* label = kind == platform::BoxKind::Error   ? "error: "
                                : kind == platform::BoxKind::Plain ? "plain: "
                                                                   : "other: ";
            texts.append(label + text);
            return platform::BoxAnswer::Ok;
        });
    }
    QStringList take() {
        std::lock_guard lock(mutex);
        return std::exchange(texts, {});
    }
};

Q_DECLARE_METATYPE(QList<Message>)
