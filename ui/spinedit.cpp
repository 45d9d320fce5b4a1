#include "ui/spinedit.h"

#include <QLineEdit>
#include <QRegularExpression>

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
}

void TSpinEdit::setLimits(int minValue, int maxValue) {
    m_min = minValue;
    m_max = maxValue;
}

void TSpinEdit::setText(const QString& text) {
    lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps) {
    bool ok = false;
    const qint64 current = text().trimmed().toLongLong(&ok);
    qint64 next = ok ? current + steps : m_min;
    next = qBound(qint64(m_min), next, qint64(m_max));
    setText(QString::number(next));
    selectAll();
}

QValidator::State TSpinEdit::validate(QString& input, int& /*pos*/) const {
    static const QRegularExpression wholeNumber(QStringLiteral("^-?[0-9]*$"));
    return wholeNumber.match(input).hasMatch() ? QValidator::Acceptable : QValidator::Invalid;
}

void TSpinEdit::fixup(QString& /*input*/) const {
    // The owner corrects the text when focus leaves the box.
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    if (isReadOnly() || !isEnabled())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}
