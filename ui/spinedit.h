#pragma once

#include <QAbstractSpinBox>

// A spin box whose text is free: the user may type any whole number (even one outside the
// limits, or with leading zeros), which the owner corrects when focus leaves the box. The arrows,
// the arrow keys and the mouse wheel step the number within the limits. Only digits and a
// leading minus sign can be typed.
class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    void setLimits(int minValue, int maxValue);
    // Sets the text as it is, without any correction.
    void setText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    int m_min = 0;
    int m_max = 99;
};
