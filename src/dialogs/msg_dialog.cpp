#include "dialogs/msg_dialog.h"

#include "dialogs/ui_support.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

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

namespace
{
// Height `text` takes when wrapped as the pane wraps it (at word boundaries, else anywhere), with
// the heights of the faces that actually draw it (Japanese text comes from a fallback face).
qreal WrappedHeight(const QString& text, const QFont& font, qreal width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return std::max(height, qreal(QFontMetricsF(font).height()));
}
} // namespace

void TMsg1Dlg::FitToText()
{
    const QFontMetrics fm(Memo1->font());
    const int documentMargin = static_cast<int>(Memo1->document()->documentMargin());
    // Frame, document margins and the caret's pixel on either side.
    const int chrome = 2 * Memo1->frameWidth() + 2 * documentMargin + 4;
    QStringList lines;
    int widest = 0;
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
        lines << block.text();
        widest = std::max(widest, fm.horizontalAdvance(block.text()));
    }

    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QMargins margins = layout() ? layout()->contentsMargins() : QMargins();
    const int sides = margins.left() + margins.right();
    // Long lines widen the dialog up to about 60 characters, then wrap.
    const int widestDialog = std::min(room.width() * 9 / 10, sides + chrome + 60 * fm.averageCharWidth());
    const int memoWidth =
        std::max(DesignSize.width() - sides, std::min(widest + chrome, widestDialog - sides));
    const qreal textWidth = memoWidth - chrome;
    qreal textHeight = 0;
    for (const QString& line : lines)
        textHeight += WrappedHeight(line, Memo1->font(), textWidth);
    // Never taller than the screen: then, and only then, the pane scrolls.
    const int memoHeight =
        std::min(static_cast<int>(std::ceil(textHeight)) + 2 * Memo1->frameWidth() + 2 * documentMargin + 2,
                 std::max(DesignSize.height(), room.height() - 260));
    Memo1->setMinimumSize(memoWidth, memoHeight);
    // Let go of the previous fixed size before growing or shrinking.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    FitFixedSize(this, DesignSize);
    Memo1->moveCursor(QTextCursor::Start);
    Memo1->verticalScrollBar()->setValue(0);
    Memo1->horizontalScrollBar()->setValue(0);
}

void TMsg1Dlg::reject()
{
    done(ResultCancel);
}

void TMsg1Dlg::showEvent(QShowEvent* event)
{
    FitToText();
    QDialog::showEvent(event);
    CentreOnScreen(this);
    OKBtn->setFocus();
}

} // namespace nx7
