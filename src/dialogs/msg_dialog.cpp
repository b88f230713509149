#include "dialogs/msg_dialog.h"

#include "dialogs/ui_support.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace nx7
{

TMsg1Dlg::TMsg1Dlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , lMessage1(new QLabel(this))
    , lMessage2(new QLabel(this))
    , Memo1(new QPlainTextEdit(this))
    , STMessage1(new QLabel(this))
    , STMessage2(new QLabel(this))
    , OKBtn(new QPushButton(QStringLiteral("OK"), this))
    , CancelBtn(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setObjectName(QStringLiteral("Msg1Dlg"));
    setWindowTitle(QStringLiteral("ダイアログ"));
    FitFixedSize(this, DesignSize);
    SetBackgroundColour(this, CreamColour());

    lMessage1->setObjectName(QStringLiteral("lMessage1"));
    lMessage2->setObjectName(QStringLiteral("lMessage2"));
    Memo1->setObjectName(QStringLiteral("Memo1"));
    STMessage1->setObjectName(QStringLiteral("STMessage1"));
    STMessage2->setObjectName(QStringLiteral("STMessage2"));
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

    const QFont tahoma13 = UiFont(QStringLiteral("Tahoma"), 13);
    lMessage1->setFont(tahoma13);
    lMessage2->setFont(tahoma13);
    lMessage1->setTextFormat(Qt::PlainText);
    lMessage2->setTextFormat(Qt::PlainText);

    Memo1->setReadOnly(true);
    Memo1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SetBackgroundColour(Memo1, CreamColour());
    SetTextColour(Memo1, NavyColour());

    for (QLabel* st : {STMessage1, STMessage2}) {
        st->clear();
        SetTextColour(st, BlueColour());
        st->hide();
    }

    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { done(ResultOk); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(ResultCancel); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lMessage1);
    layout->addWidget(lMessage2);
    layout->addWidget(STMessage1);
    layout->addWidget(STMessage2);
    layout->addWidget(Memo1, 1);
    layout->addLayout(buttons);
}

void TMsg1Dlg::reject()
{
    done(ResultCancel);
}

void TMsg1Dlg::showEvent(QShowEvent* event)
{
    FitFixedSize(this, DesignSize);
    QDialog::showEvent(event);
    CentreOnScreen(this);
    OKBtn->setFocus();
}

} // namespace nx7
