#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the password of a protected file.
class TPasswordInputForm : public QDialog {
    Q_OBJECT

public:
    explicit TPasswordInputForm(QWidget* parent = nullptr);
    ~TPasswordInputForm() override;

    QLabel* sLabel1 = nullptr;
    QLineEdit* sEdit1 = nullptr;
    QPushButton* sButton1 = nullptr; // "OK"
    QPushButton* sButton2 = nullptr; // "Cancel"

    void SetPdfName(const QString& name) { PdfName = name; }
    bool IsConfirmed() const { return Confirmed; }

public slots:
    void FormShow();
    void sButton1Click();
    void sButton2Click();

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QString PdfName;
    bool Confirmed = false;
};

extern TPasswordInputForm* PasswordInputForm;
