#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// The probe window: a small modal window with a progress bar and the path of the file being
// probed. The user cannot close it; the main window closes it when the probe pass has finished.
class TLoadFileForm : public QDialog {
    Q_OBJECT

public:
    explicit TLoadFileForm(QWidget* parent = nullptr);
    ~TLoadFileForm() override;

    QProgressBar* percent = nullptr;
    QLabel* fname = nullptr;

    // Closes the window from the program's side (the only way it closes).
    void CloseByProgram();

public slots:
    // Starts the probe pass on a self-freeing worker.
    void FormShow();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    bool m_closing = false;
    // Counts the showings: a worker of an earlier showing that ends late is not this one's.
    int m_showing = 0;
};

extern TLoadFileForm* LoadFileForm;
