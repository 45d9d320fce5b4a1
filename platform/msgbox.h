#pragma once

#include <QString>

#include <functional>

class QThread;

namespace platform {

enum class BoxKind { Information, Error, Warning, Plain };
enum class BoxAnswer { Ok, Yes, No };

using MessageBoxHandler = std::function<BoxAnswer(BoxKind, const QString&)>;

// Shows a message box titled with the application title: Warning asks Yes/No, the others have
// one OK button. On the GUI thread the handler runs directly. On any other thread the request is
// queued for the GUI thread, which is woken by a posted event, and the caller blocks until it is
// answered. Without an application object, or once its event loop has ended, a worker gets the
// default answer (Ok, or No for Warning) at once instead of waiting for a thread that will not
// answer.
BoxAnswer MessageBox(BoxKind kind, const QString& text);

// Installs the handler (empty: the default, which shows nothing and answers Ok, or No for
// Warning). The widget layer installs real boxes; tests install recorders.
void SetMessageBoxHandler(MessageBoxHandler handler);

// Answers the queued requests of other threads now. GUI thread only; elsewhere it does nothing.
void ServiceGuiRequests();

// The GUI thread's way to block until done() holds without starving a worker that waits for a
// message box: checks done() again at each WakeServicingWaiters and at least every ~20 ms,
// answering queued requests in between (at once when one arrives). timeoutMs < 0 waits without
// limit. Returns done().
bool WaitServicingGui(const std::function<bool()>& done, int timeoutMs = -1);

// Whoever makes a waiter's done() true calls this, so the waiter goes on at once.
void WakeServicingWaiters();

// WaitServicingGui until the thread has finished (then joins it); false when timeoutMs ran out
// first. A thread that ends without WakeServicingWaiters is seen within the ~20 ms bound. The
// QThread object must stay alive while this runs; a nullptr or the calling thread itself returns
// true at once.
bool WaitForThreadServicingGui(QThread* thread, int timeoutMs = -1);

} // namespace platform
