#pragma once
// TMsg1Dlg: a modal question with two lines of explanation and a read-only detail pane.
// Result 1 for OK (or Enter), 2 for Cancel, Esc or the close box. Keeps its design size unless its
// texts need more room.
#include <QDialog>
#include <QSize>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace nx7
{

class TMsg1Dlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int ResultOk = 1;
    static constexpr int ResultCancel = 2;
    static constexpr QSize DesignSize{384, 214};

    explicit TMsg1Dlg(QWidget* parent = nullptr);

    // Grows the dialog so that every line of the detail pane shows without scrolling (wider for
    // long lines, up to a limit, then taller), and shows the pane from its first line. Called when
    // shown and again when the texts change while it shows.
    void FitToText();

    QLabel* lMessage1;
    QLabel* lMessage2;
    QPlainTextEdit* Memo1;
    QLabel* STMessage1;
    QLabel* STMessage2;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace nx7
