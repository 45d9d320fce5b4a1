#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The "Conversion finished!" window, offering to open the output folder.
class TInfoForm : public QDialog {
    Q_OBJECT

public:
    explicit TInfoForm(QWidget* parent = nullptr);
    ~TInfoForm() override;

    QLabel* Image1 = nullptr;
    QLabel* sLabel1 = nullptr;
    QPushButton* sBitBtn1 = nullptr; // "Open Folder"
    QPushButton* sButton1 = nullptr; // "Close"
    QLabel* FailedLabel = nullptr;   // how many files of the run failed; hidden when none
    QLabel* SummaryLabel = nullptr;  // how many files were converted, and where to
    QLabel* FailuresLabel = nullptr; // the failed files with their reasons; hidden when none

    // The files of the run that failed; their rows say why.
    void SetFailures(int failed);
    // The run's report: the files and pages converted, into which folder, and each failed file's
    // reason.
    void SetSummary(int converted, int pages, const QString& folder, const QStringList& failures);

public slots:
    void FormShow();
    void sBitBtn1Click();
    void sButton1Click();

protected:
    void showEvent(QShowEvent* e) override;
};

extern TInfoForm* InfoForm;
