#pragma once
// TResultDlg: the verdict of a firmware write in large letters with lines of detail, centred on
// the main window. The verdict's colour is whatever the caller sets. The dialog keeps its design
// size unless the detail needs more room; it grows to its text when shown.
#include <QDialog>
#include <QPointer>
#include <QSize>

class QLabel;
class QPushButton;

namespace nx7
{

class TResultDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr QSize DesignSize{459, 186};

    explicit TResultDlg(QWidget* parent = nullptr);

    void SetVerdict(const QString& verdict, const QColor& colour);
    // The window the dialog is centred on when shown (the main window).
    void SetCentreOn(QWidget* window) { m_centreOn = window; }

    QLabel* ST1;
    QLabel* ST2;
    QPushButton* Button1;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPointer<QWidget> m_centreOn;
};

} // namespace nx7
