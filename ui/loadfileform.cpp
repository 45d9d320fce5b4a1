#include "ui/loadfileform.h"

#include "engine/procthread.h"
#include "ui/look.h"
#include "ui/mainform.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>

TLoadFileForm* LoadFileForm = nullptr;

TLoadFileForm::TLoadFileForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    LoadFileForm = this;
    setObjectName(QStringLiteral("LoadFileForm"));
    setModal(true);
    // Fixed width, so a long name never resizes the window; the height follows the font.
    setFixedWidth(401);

    percent = new QProgressBar(this);
    percent->setObjectName(QStringLiteral("percent"));
    percent->setRange(0, 100);
    percent->setValue(0);
    percent->setFormat(QStringLiteral("%p%"));
    percent->setAlignment(Qt::AlignCenter);

    fname = new QLabel(this);
    fname->setObjectName(QStringLiteral("fname"));
    // It shows file names, which may look like markup.
    fname->setTextFormat(Qt::PlainText);
    fname->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(8, 8, 8, 8);
    frame->setSpacing(6);
    frame->addWidget(percent);
    frame->addWidget(fname);
    setFixedHeight(frame->sizeHint().height());
}

TLoadFileForm::~TLoadFileForm() {
    if (LoadFileForm == this)
        LoadFileForm = nullptr;
}

void TLoadFileForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TLoadFileForm::FormShow() {
    percent->setValue(0);
    fname->clear();
    setWindowTitle(QString());
    auto* worker = new TProcThread(ModeProbeAll);
    worker->setFreeOnTerminate(true);
    // Queued behind the pass's own messages, so WM_SETLISTVIEW is always handled first. Its end
    // may arrive only once the window shows again for the next Add Files, whose entries are
    // none of its business.
    connect(
        worker, &QThread::finished, this,
        [this, showing = ++m_showing] {
            if (showing == m_showing && MainForm != nullptr)
                MainForm->ProbeWorkerEnded();
        },
        Qt::QueuedConnection);
    WorkerThread = worker;
    worker->Resume();
}

void TLoadFileForm::CloseByProgram() {
    m_closing = true;
    accept();
    m_closing = false;
}

void TLoadFileForm::closeEvent(QCloseEvent* e) {
    if (!m_closing)
        e->ignore();
}

void TLoadFileForm::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape)
        return; // no way for the user to close it
    QDialog::keyPressEvent(e);
}
