#include "diag/logged_ui.h"

#include "diag/lasting_log.h"

namespace nx7::diag
{

void LoggedUi::Note(const QString& caption, const QString& text)
{
    if (m_log)
        m_log->LogDialog(caption, text);
}

MsgResult LoggedUi::Message(const MessageRequest& request)
{
    Note(request.caption.isEmpty() ? DefaultErrorCaption() : request.caption, request.text);
    const MsgResult answer = m_inner.Message(request);
    if (request.buttons == MsgButtons::YesNo)
        Note(request.caption,
             answer == MsgResult::Yes ? QStringLiteral("→ はい") : QStringLiteral("→ いいえ"));
    return answer;
}

void LoggedUi::ProgressBegin(const ProgressRequest& request)
{
    Note(request.caption, request.label);
    m_inner.ProgressBegin(request);
}

int LoggedUi::MessageDialog(const MessageDialogRequest& request)
{
    QString text = request.message1 + QLatin1Char('\n') + request.message2;
    for (const QString& line : request.memoLines)
        text += QLatin1Char('\n') + line;
    Note(request.caption, text);
    MessageDialogRequest inner = request;
    if (request.whileShown) {
        // The texts the dialog falls back to are kept too.
        inner.whileShown = [this, &request](MessageDialogRequest& shown,
                                            const std::function<void(const QString&)>& progress,
                                            const std::function<bool()>& cancelled) {
            const bool done = request.whileShown(shown, progress, cancelled);
            if (!done) {
                QString fallback = shown.message1 + QLatin1Char('\n') + shown.message2;
                for (const QString& line : shown.memoLines)
                    fallback += QLatin1Char('\n') + line;
                Note(request.caption, fallback);
            }
            return done;
        };
    }
    const int answer = m_inner.MessageDialog(inner);
    Note(request.caption, answer == 1 ? QStringLiteral("→ OK") : QStringLiteral("→ キャンセル"));
    // A cancelled dialog ends what it was asked for: the pane says so, not only the file.
    if (answer != 1 && m_paneLine)
        m_paneLine(QStringLiteral("「%1」はキャンセルされました。").arg(request.caption));
    return answer;
}

void LoggedUi::ResultDialog(const ResultDialogRequest& request)
{
    Note(request.caption, request.verdict + request.detail);
    m_inner.ResultDialog(request);
}

PortDialogResult LoggedUi::PortDialog(const PortDialogRequest& request)
{
    Note(request.caption, request.lines.join(QLatin1Char('\n')));
    PortDialogResult result = m_inner.PortDialog(request);
    Note(request.caption, result.ok && result.selected >= 0 && result.selected < result.lines.size()
                              ? QStringLiteral("→ ") + result.lines.at(result.selected)
                              : (result.ok ? QStringLiteral("→ OK") : QStringLiteral("→ キャンセル")));
    return result;
}

UploaderDialogResult LoggedUi::UploaderDialog(const UploaderDialogRequest& request)
{
    Note(request.caption, request.prompt + QLatin1Char('\n') + request.path);
    UploaderDialogResult result = m_inner.UploaderDialog(request);
    Note(request.caption,
         result.result == 1 ? QStringLiteral("→ ") + result.path : QStringLiteral("→ キャンセル"));
    return result;
}

} // namespace nx7::diag
