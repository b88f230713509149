#pragma once
// The one interface through which flows talk to the person. The Qt implementation shows the real
// dialogs; the headless one prints and answers; tests script it. Flows never create widgets.
#include <QString>
#include <QStringList>
#include <functional>

namespace nx7
{

enum class MsgIcon { None, Error, Exclamation, Information, Question };
enum class MsgButtons { Ok, YesNo, Yes };
// Values as the Windows dialog results the flows compare against.
enum class MsgResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// Empty caption: the system's default error title.
inline const QString& DefaultErrorCaption()
{
    static const QString caption = QStringLiteral("エラー");
    return caption;
}

struct MessageRequest {
    QString text;
    QString caption; // empty: DefaultErrorCaption()
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    bool ownedByMainWindow = true;
    // The negative answer would only show the same dialog again: a headless run gives up
    // (answers positively) instead of looping.
    bool negativeRepeats = false;
    // For questions whose "yes" aborts, overwrites or goes on despite a failed check: Enter answers
    // No, as Esc does, so a stray key press never gives up a write.
    bool defaultNo = false;
};

// The shapes the flows' boxes share; a caller sets the flags its question needs on the result.
// An OK box; `icon` None or Information for a note.
inline MessageRequest OkBox(const QString& text, const QString& caption = {}, MsgIcon icon = MsgIcon::None)
{
    MessageRequest box;
    box.text = text;
    box.caption = caption;
    box.icon = icon;
    box.buttons = MsgButtons::Ok;
    return box;
}

// An OK box with the error icon; an empty caption shows DefaultErrorCaption().
inline MessageRequest ErrorBox(const QString& text, const QString& caption = {})
{
    return OkBox(text, caption, MsgIcon::Error);
}

// A Yes/No question. Where "yes" gives something up, the caller also sets `defaultNo`.
inline MessageRequest YesNoBox(const QString& text, const QString& caption, MsgIcon icon = MsgIcon::Question)
{
    MessageRequest box = OkBox(text, caption, icon);
    box.buttons = MsgButtons::YesNo;
    return box;
}

struct ProgressRequest {
    QString caption;      // "しばらくお待ちください"
    QString label;        // Label1, the step title
    bool marquee = false; // Panel2/ProgressBar1 visible with a marquee bar (board check)
    bool banner = false;  // CT "書き込み中" visible (OTA write)
};

struct MessageDialogRequest {
    QString caption;
    QString message1;
    QString message2;
    QStringList memoLines;
    // Optional work done while the dialog shows (the automatic join): `progress` shows a line under
    // the texts, `cancelled` says whether the person has cancelled. True closes the dialog as OK by
    // itself; false leaves it open with the texts the work wrote into `shown`, for the person's
    // answer. OK waits while the work runs.
    std::function<bool(MessageDialogRequest& shown, const std::function<void(const QString&)>& progress,
                       const std::function<bool()>& cancelled)>
        whileShown;
};

struct ResultDialogRequest {
    QString caption;
    QString verdict;        // ST1
    unsigned verdictRgb{0}; // 0xRRGGBB
    QString detail;         // ST2
};

struct PortDialogRequest {
    QString caption;
    QStringList lines;  // "COM<n>(<description>)"
    int selected = -1;  // preselected line, -1 none
    int speedItem = 1;  // RGComSpeed index
    int parityItem = 0; // RGParity index (shown, disabled)
    // Re-enumerates the ports; the dialog calls it when the set of devices may have changed.
    std::function<QStringList()> enumerate;
    // False when the link is TCP or none: Open then needs no serial port.
    bool serialLink = true;
};

struct PortDialogResult {
    bool ok = false;
    int selected = -1; // -1: no line selected
    QStringList lines; // the list as it stood when the dialog closed
    int speedItem = 1;
    int parityItem = 0;
};

struct UploaderDialogRequest {
    QString caption;
    QString prompt;       // ST1
    QString path;         // EF1
    QString browseFilter; // "espota実行ファイル|*.exe"
    QString dropExt;      // "exe"
    QString downloadNote; // ST2
    QString url;          // URL
};

struct UploaderDialogResult {
    int result = 2; // 1 OK, 2 cancel
    QString path;   // EF1 when it closed
};

class UserInteraction
{
public:
    virtual ~UserInteraction() = default;

    virtual MsgResult Message(const MessageRequest& request) = 0;

    // The progress dialog (TGuage1Dlg): shown without blocking, removed by ProgressEnd.
    virtual void ProgressBegin(const ProgressRequest& request) = 0;
    virtual void ProgressSetLabel(const QString& label) = 0;
    virtual void ProgressSetDots(const QString& dots) = 0; // the `dot` label, made visible
    virtual void ProgressSetPercent(int percent) = 0;      // uploader progress, 0..100
    virtual void ProgressEnd() = 0;

    // TMsg1Dlg: 1 = OK, anything else = declined.
    virtual int MessageDialog(const MessageDialogRequest& request) = 0;
    // TResultDlg.
    virtual void ResultDialog(const ResultDialogRequest& request) = 0;
    // TOpenCom1Dlg.
    virtual PortDialogResult PortDialog(const PortDialogRequest& request) = 0;
    // TInputDlg1, shown once; the selection flow loops around it.
    virtual UploaderDialogResult UploaderDialog(const UploaderDialogRequest& request) = 0;

    virtual void SetStatusText(const QString& text) = 0;
    virtual void Beep() = 0;
};

} // namespace nx7
