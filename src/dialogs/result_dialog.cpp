#include "dialogs/result_dialog.h"

#include "dialogs/ui_support.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace nx7
{

TResultDlg::TResultDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , ST1(new QLabel(this))
    , ST2(new QLabel(this))
    , Button1(new QPushButton(QStringLiteral("OK"), this))
{
    setObjectName(QStringLiteral("ResultDlg"));
    setWindowTitle(QStringLiteral("Res"));
    FitFixedSize(this, DesignSize);
    ST1->setObjectName(QStringLiteral("ST1"));
    ST2->setObjectName(QStringLiteral("ST2"));
    Button1->setObjectName(QStringLiteral("Button1"));

    ST1->setFixedHeight(96);
    ST1->setAlignment(Qt::AlignCenter);
    ST1->setFont(UiFont(QStringLiteral("Tahoma"), 64));
    ST1->setTextFormat(Qt::PlainText);
    ST2->setAlignment(Qt::AlignCenter);
    ST2->setFont(UiFont(QStringLiteral("Tahoma"), 13));
    ST2->setTextFormat(Qt::PlainText);

    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(1); });

    auto* strip = new QHBoxLayout;
    strip->addStretch();
    strip->addWidget(Button1);
    strip->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ST1);
    layout->addWidget(ST2, 1);
    layout->addLayout(strip);
}

void TResultDlg::SetVerdict(const QString& verdict, const QColor& colour)
{
    ST1->setText(verdict);
    SetTextColour(ST1, colour);
}

void TResultDlg::reject()
{
    done(2);
}

void TResultDlg::showEvent(QShowEvent* event)
{
    // The detail may run to several lines (cause and action): the dialog grows to hold them.
    FitFixedSize(this, DesignSize);
    QDialog::showEvent(event);
    if (m_centreOn)
        CentreOver(this, m_centreOn->window());
    else
        CentreOnScreen(this);
    Button1->setFocus();
}

} // namespace nx7
