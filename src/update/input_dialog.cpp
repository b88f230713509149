#include "update/input_dialog.h"

#include "dialogs/file_drop.h"
#include "dialogs/ui_support.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace nx7
{

namespace
{
bool IsSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
#else
    return c == QLatin1Char('/');
#endif
}

bool IsFolderEnd(QChar c)
{
#ifdef Q_OS_WIN
    return IsSeparator(c) || c == QLatin1Char(':');
#else
    return IsSeparator(c);
#endif
}
} // namespace

TInputDlg1::TInputDlg1(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , ST1(new QLabel(QStringLiteral("ST1"), this))
    , EF1(new QLineEdit(this))
    , SB1(new QToolButton(this))
    , ST2(new QLabel(this))
    , URL(new QLabel(this))
    , Button1(new QPushButton(QStringLiteral("OK"), this))
    , Button2(new QPushButton(QStringLiteral("キャンセル"), this))
    , FD1(new TFileDrop(QStringLiteral("FD1"), EF1))
    , beep([] { QApplication::beep(); })
{
    setObjectName(QStringLiteral("InputDlg1"));
    FitFixedSize(this, QSize(576, 198));
    setFont(UiFont(QStringLiteral("Tahoma"), 11));
    ST1->setObjectName(QStringLiteral("ST1"));
    EF1->setObjectName(QStringLiteral("EF1"));
    SB1->setObjectName(QStringLiteral("SB1"));
    ST2->setObjectName(QStringLiteral("ST2"));
    URL->setObjectName(QStringLiteral("URL"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2->setObjectName(QStringLiteral("Button2"));

    const QFont tahoma13 = UiFont(QStringLiteral("Tahoma"), 13);
    ST1->setFont(tahoma13);
    ST1->setAlignment(Qt::AlignCenter);
    ST1->setTextFormat(Qt::PlainText);
    ST1->setMinimumHeight(28);
    SetBackgroundColour(ST1, SkyBlueColour());
    EF1->setFont(UiFont(QStringLiteral("ＭＳ ゴシック"), 13));
    SB1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SB1->setAutoRaise(true);
    ST2->setFont(tahoma13);
    ST2->setTextFormat(Qt::PlainText);
    ST2->hide();
    URL->setFont(tahoma13);
    URL->setTextFormat(Qt::PlainText);
    URL->setCursor(Qt::PointingHandCursor);
    SetTextColour(URL, BlueColour());
    URL->hide();

    URL->installEventFilter(this);

    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(1); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(2); });
    connect(SB1, &QToolButton::clicked, this, &TInputDlg1::SpeedButton1Click);
    connect(FD1, &TFileDrop::Dropped, this, &TInputDlg1::FileDrop1Drop);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(EF1, 1);
    pathRow->addWidget(SB1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ST1);
    layout->addLayout(pathRow);
    layout->addWidget(ST2);
    layout->addWidget(URL);
    layout->addStretch();
    layout->addLayout(buttons);
}

bool TInputDlg1::DropExtensionMatches(const QString& path, const QString& dropExt)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
    const QStringList accepted = dropExt.split(QLatin1Char(';'));
    for (const QString& entry : accepted) {
        if (extension.compare(entry.trimmed(), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString TInputDlg1::QtFileFilter(const QString& browseFilter)
{
    return nx7::QtFileFilter(browseFilter);
}

QString TInputDlg1::FolderPart(const QString& path)
{
    int cut = -1;
    for (int i = 0; i < path.size(); ++i) {
        if (IsFolderEnd(path.at(i)))
            cut = i;
    }
    if (cut < 0)
        return {};
    QString folder = path.left(cut + 1);
    if (folder.size() > 1 && IsSeparator(folder.back())) {
        const QChar before = folder.at(folder.size() - 2);
        if (before != QLatin1Char(':') && !IsSeparator(before))
            folder.chop(1);
    }
    return folder;
}

void TInputDlg1::FileDrop1Drop(const QStringList& files)
{
    raise();
    activateWindow();
    const QString path = files.value(0);
    if (!path.isEmpty() && QFileInfo(path).isFile() && DropExtensionMatches(path, DropExt))
        EF1->setText(QDir::toNativeSeparators(path));
    else if (beep)
        beep();
}

void TInputDlg1::SpeedButton1Click()
{
    QFileDialog dialog(this, QString(), FolderPart(EF1->text()));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString filter = QtFileFilter(BrowseFilter);
    if (!filter.isEmpty())
        dialog.setNameFilters(filter.split(QStringLiteral(";;")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    EF1->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

void TInputDlg1::URLClick()
{
    QDesktopServices::openUrl(QUrl::fromUserInput(URL->text().trimmed()));
}

void TInputDlg1::reject()
{
    done(2);
}

bool TInputDlg1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == URL && event->type() == QEvent::MouseButtonRelease) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            URLClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TInputDlg1::showEvent(QShowEvent* event)
{
    // The design size, or more where the prompt, the note or the address need it.
    FitFixedSize(this, QSize(576, 198));
    QDialog::showEvent(event);
    CentreOnScreen(this);
    EF1->setFocus();
}

} // namespace nx7
