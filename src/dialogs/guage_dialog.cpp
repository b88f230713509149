#include "dialogs/guage_dialog.h"

#include "dialogs/ui_support.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace nx7
{

TGuage1Dlg::TGuage1Dlg(QWidget* parent)
    // Title bar only: without a system menu there is no close box.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , Label1(new QLabel(this))
    , CT(new QLabel(QStringLiteral("書き込み中"), this))
    , dot(new QLabel(QStringLiteral("・・・"), this))
    , Panel2(new QFrame(this))
    , ProgressBar1(new QProgressBar(Panel2))
    , Button1(new QPushButton(QStringLiteral("&Cancel"), this))
    , CloseNote(new QLabel(this))
{
    setObjectName(QStringLiteral("Guage1Dlg"));
    setWindowTitle(QStringLiteral("変換実行中"));
    Label1->setObjectName(QStringLiteral("Label1"));
    CT->setObjectName(QStringLiteral("CT"));
    dot->setObjectName(QStringLiteral("dot"));
    Panel2->setObjectName(QStringLiteral("Panel2"));
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    Button1->setObjectName(QStringLiteral("Button1"));
    CloseNote->setObjectName(QStringLiteral("CloseNote"));
    CloseNote->setWordWrap(true);
    CloseNote->setFixedWidth(309);
    CloseNote->setAlignment(Qt::AlignCenter);
    SetTextColour(CloseNote, BlueColour());
    CloseNote->hide();

    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFixedWidth(309);
    CT->setFont(UiFont(QStringLiteral("Tahoma"), 40));
    dot->setFont(UiFont(QStringLiteral("Tahoma"), 20));
    SetTextColour(CT, Qt::black);
    SetTextColour(dot, Qt::black);
    CT->hide();
    dot->hide();

    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* panelLayout = new QVBoxLayout(Panel2);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    panelLayout->addWidget(ProgressBar1);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);

    auto* bannerRow = new QHBoxLayout;
    bannerRow->addStretch();
    bannerRow->addWidget(CT);
    bannerRow->addWidget(dot, 0, Qt::AlignBottom);
    bannerRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1, 0, Qt::AlignHCenter);
    layout->addLayout(bannerRow);
    layout->addWidget(Panel2);
    layout->addWidget(CloseNote, 0, Qt::AlignHCenter);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    // The window follows what the step shows, but the user cannot resize it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TGuage1Dlg::SetMarquee()
{
    Panel2->show();
    ProgressBar1->show();
    ProgressBar1->setEnabled(true);
    ProgressBar1->setRange(0, 0);
    ProgressBar1->setTextVisible(false);
}

void TGuage1Dlg::SetPercent(int percent)
{
    Panel2->show();
    ProgressBar1->show();
    ProgressBar1->setEnabled(true);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(std::clamp(percent, 0, 100));
    // The uploader's percentage, written on the bar.
    ProgressBar1->setFormat(QStringLiteral("%p%"));
    ProgressBar1->setTextVisible(true);
}

void TGuage1Dlg::SetDots(const QString& dots)
{
    dot->setText(dots);
    dot->show();
}

void TGuage1Dlg::Finish()
{
    m_finishing = true;
    close();
}

void TGuage1Dlg::ExplainWhyItStays()
{
    // The write has its way out (the main window's close asks whether to give it up); other
    // steps end by themselves within their time limit.
    CloseNote->setText(
        CT->isVisible()
            ? QStringLiteral(
                  "書き込み中はこの画面を閉じられません。中止するには、メインウィンドウを閉じてください。")
            : QStringLiteral("処理中はこの画面を閉じられません。処理が終わると自動的に閉じます。"));
    CloseNote->show();
}

void TGuage1Dlg::reject()
{
    if (m_finishing)
        QDialog::reject();
    else
        ExplainWhyItStays();
}

void TGuage1Dlg::closeEvent(QCloseEvent* event)
{
    if (m_finishing) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    ExplainWhyItStays();
}

void TGuage1Dlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnScreen(this);
}

} // namespace nx7
