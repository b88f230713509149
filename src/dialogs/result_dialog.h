#pragma once
// TResultDlg: the verdict of a firmware write in large letters with one line of detail, centred on
// the main window. The verdict's colour is whatever the caller sets.
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

namespace nx7
{

class TResultDlg : public QDialog
{
    Q_OBJECT
public:
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
