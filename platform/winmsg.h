#pragma once

#include <QEvent>
#include <QObject>
#include <QtGlobal>

namespace platform {

// A posted window message: the event type is the message number itself.
class WindowMessage : public QEvent {
public:
    WindowMessage(int msg, qintptr wParam, qintptr lParam)
        : QEvent(static_cast<QEvent::Type>(msg)), m_wParam(wParam), m_lParam(lParam) {}
    int msg() const { return static_cast<int>(type()); }
    qintptr wParam() const { return m_wParam; }
    qintptr lParam() const { return m_lParam; }

private:
    qintptr m_wParam;
    qintptr m_lParam;
};

// Registers the receiver of PostMessage; nullptr clears it. The main window calls this first
// thing in its constructor and, with nullptr, first thing in its destructor.
void SetMainWindow(QObject* target);

// Posts a WindowMessage to the registered target from any thread; false when there is none.
bool PostMessage(int msg, qintptr wParam, qintptr lParam);

// Progress messages carry position * 1000 + percentage (percentage below 1000).
constexpr qintptr PackProgress(int position, int percent) {
    return qintptr(position) * 1000 + percent;
}
constexpr int ProgressPosition(qintptr lParam) {
    return int(lParam / 1000);
}
constexpr int ProgressPercent(qintptr lParam) {
    return int(lParam % 1000);
}

} // namespace platform
