#include "dialogs/about_box.h"

#include "dialogs/ui_support.h"
#include "dialogs/version_info.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace nx7
{

TProgramIcon::TProgramIcon(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(69, 72);
    setCursor(Qt::ArrowCursor);
}

void TProgramIcon::paintEvent(QPaintEvent*)
{
    // A circuit board with a download arrow: the program writes firmware onto a board.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF board(6, 14, 57, 44);
    p.setPen(QPen(QColor(0, 80, 0), 2));
    p.setBrush(QColor(40, 150, 70));
    p.drawRoundedRect(board, 5, 5);
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(22, 26, 25, 20));
    p.setPen(QPen(QColor(220, 190, 60), 2));
    for (int i = 0; i < 4; ++i) {
        const qreal y = 28 + i * 5;
        p.drawLine(QPointF(16, y), QPointF(22, y));
        p.drawLine(QPointF(47, y), QPointF(53, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 90, 200));
    const QPointF arrow[] = {{34.5, 70}, {24, 58}, {30, 58}, {30, 48}, {39, 48}, {39, 58}, {45, 58}};
    p.drawPolygon(arrow, 7);
}

void TProgramIcon::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked(event->modifiers());
    QWidget::mouseReleaseEvent(event);
}

TAboutBox::TAboutBox(QWidget* parent, std::function<void()> onDiagnostic)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , Panel1(new QFrame(this))
    , ProgramIcon(new TProgramIcon(Panel1))
    , ProductName(new QLabel(Panel1))
    , Version(new QLabel(Panel1))
    , Copyright(new QLabel(Panel1))
    , Comments(new QLabel(Panel1))
    , SettingsFile(new QLabel(this))
    , OKButton(new QPushButton(QStringLiteral("OK"), this))
    , m_onDiagnostic(std::move(onDiagnostic))
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    Panel1->setObjectName(QStringLiteral("Panel1"));
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProductName->setObjectName(QStringLiteral("ProductName"));
    Version->setObjectName(QStringLiteral("Version"));
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Comments->setObjectName(QStringLiteral("Comments"));
    SettingsFile->setObjectName(QStringLiteral("SettingsFile"));
    OKButton->setObjectName(QStringLiteral("OKButton"));

    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ProductName->setFont(UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 12));
    for (QLabel* label : {ProductName, Version, Copyright, Comments}) {
        label->setTextFormat(Qt::PlainText);
        SetTextColour(label, BlueColour());
    }
    SetTextColour(Comments, LimeColour());
    SettingsFile->setTextFormat(Qt::PlainText);
    SettingsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SettingsFile->hide();
    Comments->setAlignment(Qt::AlignCenter);
    Comments->setWordWrap(true);

    // Filled once: every showing displays the same texts.
    Version->setText(QStringLiteral("     Version ") + GetVersionInfoText(2));
    ProductName->setText(GetVersionInfoText(7));
    Copyright->setText(GetVersionInfoText(4));
    Comments->setText(GetVersionInfoText(1));

    connect(ProgramIcon, &TProgramIcon::clicked, this, &TAboutBox::ProgramIconClick);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });

    auto* texts = new QVBoxLayout;
    texts->addWidget(ProductName);
    texts->addWidget(Version);
    texts->addWidget(Copyright);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(ProgramIcon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->addLayout(top, 1);
    panelLayout->addWidget(Comments);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Panel1, 1);
    layout->addWidget(SettingsFile);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    FitFixedSize(this, DesignSize);
}

void TAboutBox::SetSettingsPath(const QString& path)
{
    SettingsFile->setText(QStringLiteral("設定ファイル: ") + path);
    SettingsFile->setVisible(!path.isEmpty());
}

void TAboutBox::ProgramIconClick(Qt::KeyboardModifiers modifiers)
{
    // Stops counting at the threshold: the count only matters until then, and cannot overflow.
    if ((modifiers & Qt::ControlModifier) && m_ctrlClicks < DiagnosticClicks)
        ++m_ctrlClicks;
    if (m_ctrlClicks >= DiagnosticClicks && m_onDiagnostic)
        m_onDiagnostic();
}

void TAboutBox::showEvent(QShowEvent* event)
{
    FitFixedSize(this, DesignSize);
    QDialog::showEvent(event);
    CentreOnScreen(this);
    OKButton->setFocus();
}

} // namespace nx7
