#include "app/qt_ui.h"

#include "dialogs/guage_dialog.h"
#include "dialogs/msg_dialog.h"
#include "dialogs/result_dialog.h"
#include "dialogs/ui_support.h"
#include "discovery/port_dialog.h"
#include "platform/event_wait.h"
#include "update/input_dialog.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

namespace nx7
{

namespace
{
QMessageBox::Icon BoxIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QColor ColourOfRgb(unsigned rgb)
{
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}
} // namespace

bool InstallQtTranslations(QCoreApplication& app, const QString& folder)
{
    const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), from)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QtUserInteraction::QtUserInteraction(QWidget* mainWindow, StatusSink statusSink)
    : m_main(mainWindow)
    , m_statusSink(std::move(statusSink))
{
}

QtUserInteraction::~QtUserInteraction()
{
    for (const QPointer<TGuage1Dlg>& dialog : m_progress)
        delete dialog.data();
}

void QtUserInteraction::Own(QWidget* dialog, bool owned) const
{
    if (!owned || !m_main)
        return;
    QWidget* owner = m_main->window();
    if (!owner->windowHandle())
        return;
    dialog->createWinId();
    if (QWindow* window = dialog->windowHandle())
        window->setTransientParent(owner->windowHandle());
}

int QtUserInteraction::Exec(QDialog& dialog) const
{
    if (beforeExec)
        beforeExec(&dialog);
    return dialog.exec();
}

MsgResult QtUserInteraction::Message(const MessageRequest& request)
{
    QMessageBox box;
    box.setIcon(BoxIcon(request.icon));
    box.setWindowTitle(request.caption.isEmpty() ? DefaultErrorCaption() : request.caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    switch (request.buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case MsgButtons::Yes:
        box.setStandardButtons(QMessageBox::Yes);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Yes);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.defaultNo ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    Own(&box, request.ownedByMainWindow);
    Exec(box);
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    case QMessageBox::Ok:
        return MsgResult::Ok;
    default:
        break;
    }
    switch (request.buttons) {
    case MsgButtons::YesNo:
        return MsgResult::No;
    case MsgButtons::Yes:
        return MsgResult::Yes;
    case MsgButtons::Ok:
        break;
    }
    return MsgResult::Ok;
}

TGuage1Dlg* QtUserInteraction::CurrentProgress() const
{
    for (auto it = m_progress.crbegin(); it != m_progress.crend(); ++it) {
        if (*it)
            return it->data();
    }
    return nullptr;
}

void QtUserInteraction::ProgressBegin(const ProgressRequest& request)
{
    auto* dialog = new TGuage1Dlg;
    dialog->Button1->hide();
    if (request.marquee) {
        dialog->SetMarquee();
    } else {
        dialog->Panel2->hide();
        dialog->ProgressBar1->hide();
    }
    if (!request.caption.isEmpty())
        dialog->setWindowTitle(request.caption);
    dialog->Label1->setText(request.label);
    // The step's title in the status bar goes when the step's dialog goes.
    dialog->setProperty("stepTitle", request.label);
    dialog->CT->setVisible(request.banner);
    Own(dialog);
    m_progress.append(dialog);

    ProcessPendingEvents();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    ProcessPendingEvents();
}

void QtUserInteraction::ProgressSetLabel(const QString& label)
{
    if (TGuage1Dlg* dialog = CurrentProgress())
        dialog->Label1->setText(label);
}

void QtUserInteraction::ProgressSetDots(const QString& dots)
{
    if (TGuage1Dlg* dialog = CurrentProgress())
        dialog->SetDots(dots);
}

void QtUserInteraction::ProgressSetPercent(int percent)
{
    if (TGuage1Dlg* dialog = CurrentProgress())
        dialog->SetPercent(percent);
}

void QtUserInteraction::ProgressEnd()
{
    // The innermost dialog goes; an outer flow's dialog is current again.
    while (!m_progress.isEmpty()) {
        QPointer<TGuage1Dlg> dialog = m_progress.takeLast();
        if (!dialog)
            continue;
        const QString title = dialog->property("stepTitle").toString();
        dialog->Finish();
        delete dialog.data();
        if (!title.isEmpty() && title == m_status)
            SetStatusText(QString());
        break;
    }
}

namespace
{
void FillMessageDialog(TMsg1Dlg& dialog, const MessageDialogRequest& request)
{
    dialog.lMessage1->setText(request.message1);
    dialog.lMessage2->setText(request.message2);
    dialog.Memo1->clear();
    for (const QString& line : request.memoLines)
        dialog.Memo1->appendPlainText(line);
}
} // namespace

int QtUserInteraction::MessageDialog(const MessageDialogRequest& request)
{
    TMsg1Dlg dialog;
    dialog.setWindowTitle(request.caption);
    FillMessageDialog(dialog, request);
    if (request.whileShown) {
        // The work runs inside the dialog's own loop, once it shows; it pumps events itself, so
        // Cancel is heard while it runs. OK waits for its end.
        dialog.OKBtn->setEnabled(false);
        QTimer::singleShot(0, &dialog, [&dialog, &request] {
            const auto cancelled = [&dialog] { return dialog.result() == TMsg1Dlg::ResultCancel; };
            const auto progress = [&dialog](const QString& line) {
                dialog.STMessage1->setText(line);
                dialog.STMessage1->show();
            };
            MessageDialogRequest shown = request;
            const bool done = request.whileShown(shown, progress, cancelled);
            if (dialog.result() != 0)
                return; // already answered
            if (done) {
                dialog.done(TMsg1Dlg::ResultOk);
                return;
            }
            FillMessageDialog(dialog, shown);
            dialog.STMessage1->hide();
            dialog.OKBtn->setEnabled(true);
            dialog.OKBtn->setFocus();
            // The manual texts are longer: the dialog grows to them and stays on the screen.
            dialog.FitToText();
            CentreOnScreen(&dialog);
        });
    }
    Own(&dialog);
    return Exec(dialog);
}

void QtUserInteraction::ResultDialog(const ResultDialogRequest& request)
{
    TResultDlg dialog;
    dialog.setWindowTitle(request.caption);
    dialog.SetVerdict(request.verdict, ColourOfRgb(request.verdictRgb));
    dialog.ST2->setText(request.detail);
    dialog.SetCentreOn(m_main);
    if (m_resultCloseAfterMs > 0)
        QTimer::singleShot(m_resultCloseAfterMs, &dialog, [&dialog] { dialog.done(1); });
    Own(&dialog);
    Exec(dialog);
}

PortDialogResult QtUserInteraction::PortDialog(const PortDialogRequest& request)
{
    TOpenCom1Dlg dialog;
    dialog.setWindowTitle(request.caption);
    dialog.RGParity->setEnabled(false);
    dialog.SetLines(request.lines, request.selected);
    dialog.SetSpeedItem(request.speedItem);
    dialog.SetParityItem(request.parityItem);
    dialog.SetEnumerate(request.enumerate);
    dialog.SetSettingsPath(m_settingsPath);
    Own(&dialog);

    PortDialogResult result;
    result.ok = Exec(dialog) == 1;
    result.selected = dialog.SelectedLine();
    result.lines = dialog.Lines();
    result.speedItem = dialog.SpeedItem();
    result.parityItem = dialog.ParityItem();
    return result;
}

UploaderDialogResult QtUserInteraction::UploaderDialog(const UploaderDialogRequest& request)
{
    TInputDlg1 dialog;
    dialog.setWindowTitle(request.caption);
    dialog.ST1->setText(request.prompt);
    dialog.EF1->setText(request.path);
    dialog.BrowseFilter = request.browseFilter;
    dialog.DropExt = request.dropExt;
    dialog.ST2->setText(request.downloadNote);
    dialog.ST2->setVisible(!request.downloadNote.isEmpty());
    dialog.URL->setText(request.url);
    dialog.URL->setVisible(!request.url.isEmpty());
    Own(&dialog);

    UploaderDialogResult result;
    result.result = Exec(dialog) == 1 ? 1 : 2;
    result.path = dialog.EF1->text();
    return result;
}

void QtUserInteraction::SetStatusText(const QString& text)
{
    m_status = text;
    if (m_statusSink) {
        m_statusSink(text);
        return;
    }
    if (auto* window = qobject_cast<QMainWindow*>(m_main.data()))
        window->statusBar()->showMessage(text);
}

void QtUserInteraction::Beep()
{
    QApplication::beep();
}

} // namespace nx7
