#include "dialogs/updown_number_edit.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace nx7
{

namespace
{
constexpr double kPatternMax = 4294967295.0; // FFFFFFFF
}

TUpdownNumberEdit::TUpdownNumberEdit(QWidget* parent)
    : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setMaxLength(16);
    connect(this, &QAbstractSpinBox::editingFinished, this, &TUpdownNumberEdit::Commit);
    lineEdit()->setText(Format(m_value));
}

void TUpdownNumberEdit::SetHexadecimal(bool hex)
{
    const double v = Value();
    m_hex = hex;
    SetValue(v);
    updateGeometry();
}

void TUpdownNumberEdit::SetLimits(double min, double max)
{
    const double v = Value();
    m_limited = true;
    m_min = std::min(min, max);
    m_max = std::max(min, max);
    SetValue(v);
    updateGeometry();
}

void TUpdownNumberEdit::SetUnlimited()
{
    const double v = Value();
    m_limited = false;
    SetValue(v);
    updateGeometry();
}

std::optional<double> TUpdownNumberEdit::Parse(const QString& text) const
{
    static const QRegularExpression hexForm(QStringLiteral("^[0-9A-Fa-f]{1,8}$"));
    static const QRegularExpression decimalForm(QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    const QString t = text.trimmed();
    if (m_hex) {
        if (!hexForm.match(t).hasMatch())
            return std::nullopt;
        return static_cast<double>(t.toULongLong(nullptr, 16));
    }
    if (!decimalForm.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double TUpdownNumberEdit::Bound(double value) const
{
    if (m_limited)
        return std::clamp(value, m_min, m_max);
    // The hexadecimal text shows a 32-bit pattern and nothing beyond it.
    if (m_hex)
        return std::clamp(std::trunc(value), 0.0, kPatternMax);
    return value;
}

QString TUpdownNumberEdit::Format(double value) const
{
    if (m_hex)
        return QString::number(static_cast<qint64>(std::trunc(value)), 16).toUpper();
    if (value == std::trunc(value) && std::fabs(value) < 9.0e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}

double TUpdownNumberEdit::Value() const
{
    return Bound(Parse(lineEdit()->text()).value_or(m_value));
}

qint64 TUpdownNumberEdit::IntValue() const
{
    return static_cast<qint64>(std::trunc(Value()));
}

void TUpdownNumberEdit::SetValue(double value)
{
    if (!std::isfinite(value))
        value = 0;
    // A negative 32-bit number in a hexadecimal field is shown as its bit pattern.
    if (m_hex && !m_limited && value < 0 && value >= -2147483648.0)
        value = std::trunc(value) + 4294967296.0;
    m_value = Bound(value);
    const QString text = Format(m_value);
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

QString TUpdownNumberEdit::WidestText() const
{
    QString widest = lineEdit()->text();
    QStringList candidates;
    if (m_limited)
        candidates = {Format(m_min), Format(m_max)};
    else if (m_hex)
        candidates = {QStringLiteral("FFFFFFFF")};
    else
        candidates = {QStringLiteral("-2147483648")};
    const QFontMetrics fm(fontMetrics());
    for (const QString& text : std::as_const(candidates)) {
        if (fm.horizontalAdvance(text) > fm.horizontalAdvance(widest))
            widest = text;
    }
    return widest;
}

QSize TUpdownNumberEdit::sizeHint() const
{
    // The base hint counts the frame, the buttons and a blank; add the value text to it.
    QSize hint = QAbstractSpinBox::sizeHint();
    hint.rwidth() += fontMetrics().horizontalAdvance(WidestText());
    return hint;
}

QSize TUpdownNumberEdit::minimumSizeHint() const
{
    QSize hint = QAbstractSpinBox::minimumSizeHint();
    hint.setWidth(std::max(hint.width(), sizeHint().width()));
    return hint;
}

void TUpdownNumberEdit::Commit()
{
    SetValue(Value());
}

void TUpdownNumberEdit::stepBy(int steps)
{
    SetValue(std::trunc(Value()) + steps);
    selectAll();
}

QAbstractSpinBox::StepEnabled TUpdownNumberEdit::stepEnabled() const
{
    const double v = Value();
    StepEnabled enabled = StepNone;
    const bool bounded = m_limited || m_hex;
    const double low = m_limited ? m_min : 0.0;
    const double high = m_limited ? m_max : kPatternMax;
    if (!bounded || v < high)
        enabled |= StepUpEnabled;
    if (!bounded || v > low)
        enabled |= StepDownEnabled;
    return enabled;
}

QValidator::State TUpdownNumberEdit::validate(QString& input, int& /*pos*/) const
{
    static const QRegularExpression hexTyping(QStringLiteral("^[0-9A-Fa-f]{0,8}$"));
    static const QRegularExpression decimalTyping(QStringLiteral("^[+-]?[0-9]*(\\.[0-9]*)?$"));
    const QString t = input.trimmed();
    if (!(m_hex ? hexTyping : decimalTyping).match(t).hasMatch())
        return QValidator::Invalid;
    // Out-of-range numbers may be typed; the limits apply when the value is taken.
    return Parse(t) ? QValidator::Acceptable : QValidator::Intermediate;
}

void TUpdownNumberEdit::fixup(QString& input) const
{
    input = Format(Bound(Parse(input).value_or(m_value)));
}

} // namespace nx7
