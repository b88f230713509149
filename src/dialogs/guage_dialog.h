#pragma once
// TGuage1Dlg: shown without blocking while a step runs. It has no close box and ignores Esc and
// close requests, so it only disappears when the flow that showed it ends (Finish); a close
// request makes it say why it stays (CloseNote).
#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace nx7
{

class TGuage1Dlg : public QDialog
{
    Q_OBJECT
public:
    explicit TGuage1Dlg(QWidget* parent = nullptr);

    // Panel2 and ProgressBar1 visible, the bar endless (board check).
    void SetMarquee();
    // Panel2 and ProgressBar1 visible, the bar showing `percent` (0..100) of the uploader's work.
    void SetPercent(int percent);
    // The `dot` label with this text, made visible.
    void SetDots(const QString& dots);
    // The only way to close the dialog.
    void Finish();

    QLabel* Label1;
    QLabel* CT;
    QLabel* dot;
    QFrame* Panel2;
    QProgressBar* ProgressBar1;
    QPushButton* Button1; // no flow offers cancelling a step: callers hide it, it does nothing
    QLabel* CloseNote;    // shown once the person tried to close the dialog

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ExplainWhyItStays();
    bool m_finishing = false;
};

} // namespace nx7
