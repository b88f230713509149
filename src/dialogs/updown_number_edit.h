#pragma once
// TUpdownNumberEdit: the number fields of the parameter dialog (addresses, port, offset).
#include <QAbstractSpinBox>
#include <optional>

namespace nx7
{

// A number field with up/down buttons. Decimal or hexadecimal (upper-case digits, no prefix); a
// limited field clamps what it is given or what is typed to the nearer bound. An unlimited
// hexadecimal field holds a 32-bit pattern (0 .. FFFFFFFF).
class TUpdownNumberEdit : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit TUpdownNumberEdit(QWidget* parent = nullptr);

    void SetHexadecimal(bool hex);
    bool Hexadecimal() const { return m_hex; }
    void SetLimits(double min, double max);
    void SetUnlimited();
    bool Limited() const { return m_limited; }

    // The value the field shows, including text typed but not yet confirmed, after the limits.
    double Value() const;
    // Value() cut to an integer toward zero.
    qint64 IntValue() const;
    void SetValue(double value);

    // Wide enough for the widest value the field can hold (all eight hexadecimal digits, or the
    // longer bound), not only for the text it happens to show.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    std::optional<double> Parse(const QString& text) const;
    QString WidestText() const;
    double Bound(double value) const;
    QString Format(double value) const;
    void Commit();

    double m_value = 0;
    bool m_hex = false;
    bool m_limited = false;
    double m_min = 0;
    double m_max = 0;
};

} // namespace nx7
