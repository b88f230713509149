#pragma once
// The Qt implementation of the user-interaction seam: the real dialogs and message boxes.
//
// Dialogs "owned by the main window" are separate windows with the main window as their transient
// parent, not Qt children of it: a flow disables the main window while it runs, and that must not
// disable the progress dialog or a question asked meanwhile (a Qt child window would be disabled
// with its parent).
//
// Tests: every modal dialog (message boxes included) is handed to `beforeExec` just before it runs
// its event loop. A test sets the hook to script the dialog, e.g. fill fields and press a button
// through QTimer::singleShot(0, ...) so the click happens inside the dialog's loop:
//
//     QtUserInteraction::beforeExec = [](QDialog* d) {
//         QTimer::singleShot(0, d, [d] { d->findChild<QPushButton*>("OKBtn")->click(); });
//     };
//
// The dialog's objectName tells which one it is ("Msg1Dlg", "ResultDlg", "OpenCom1Dlg",
// "InputDlg1", or a QMessageBox). Reset the hook to {} when done.
#include "platform/ui_seam.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <functional>

class QCoreApplication;
class QDialog;
class QWidget;

namespace nx7
{

class TGuage1Dlg;

// Installs Qt's own Japanese texts (standard buttons, file dialog, context menus) from Qt's
// translations folder, or from `folder` when given. False, and nothing installed, when the
// catalogue is missing: the tool then runs with Qt's English texts.
bool InstallQtTranslations(QCoreApplication& app, const QString& folder = {});

class QtUserInteraction : public UserInteraction
{
public:
    using StatusSink = std::function<void(const QString&)>;

    // `mainWindow` owns the dialogs; status texts go to `statusSink`, or without one to the main
    // window's status bar when it is a QMainWindow.
    explicit QtUserInteraction(QWidget* mainWindow, StatusSink statusSink = {});
    ~QtUserInteraction() override;
    QtUserInteraction(const QtUserInteraction&) = delete;
    QtUserInteraction& operator=(const QtUserInteraction&) = delete;

    MsgResult Message(const MessageRequest& request) override;
    void ProgressBegin(const ProgressRequest& request) override;
    void ProgressSetLabel(const QString& label) override;
    void ProgressSetDots(const QString& dots) override;
    void ProgressSetPercent(int percent) override;
    void ProgressEnd() override;
    int MessageDialog(const MessageDialogRequest& request) override;
    void ResultDialog(const ResultDialogRequest& request) override;
    PortDialogResult PortDialog(const PortDialogRequest& request) override;
    UploaderDialogResult UploaderDialog(const UploaderDialogRequest& request) override;
    void SetStatusText(const QString& text) override;
    void Beep() override;

    // Settings file whose pinned ports the port dialog's device list shows (empty: the program's).
    void SetSettingsPath(const QString& path) { m_settingsPath = path; }
    // > 0: the result box closes by itself after this long (board after board, it must not wait
    // for a click while the person may want to stop the run).
    void SetResultCloseAfterMs(int ms) { m_resultCloseAfterMs = ms; }
    // The progress dialog of the running flow (the innermost when flows nest), or nullptr.
    TGuage1Dlg* CurrentProgress() const;

    static inline std::function<void(QDialog*)> beforeExec;

private:
    void Own(QWidget* dialog, bool owned = true) const;
    int Exec(QDialog& dialog) const;

    QPointer<QWidget> m_main;
    StatusSink m_statusSink;
    QString m_settingsPath;
    QString m_status; // the status text last set
    int m_resultCloseAfterMs = 0;
    QList<QPointer<TGuage1Dlg>> m_progress;
};

} // namespace nx7
