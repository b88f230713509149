#pragma once
// The user-interaction seam with every text the person is shown also kept in the lasting log:
// message boxes, the join and result dialogs, the port and uploader dialogs. Everything is passed
// on unchanged; only the log sees it in addition.
#include "platform/ui_seam.h"

#include <functional>

namespace nx7::diag
{

class LastingLog;

class LoggedUi : public UserInteraction
{
public:
    // `log` may be null (no file): the seam then only passes calls on.
    LoggedUi(UserInteraction& inner, LastingLog* log)
        : m_inner(inner)
        , m_log(log)
    {
    }

    // Where the few answers worth a line in the log pane go (the owner's AddLog); none: file only.
    void SetPaneLine(std::function<void(const QString&)> line) { m_paneLine = std::move(line); }

    MsgResult Message(const MessageRequest& request) override;
    void ProgressBegin(const ProgressRequest& request) override;
    void ProgressSetLabel(const QString& label) override { m_inner.ProgressSetLabel(label); }
    void ProgressSetDots(const QString& dots) override { m_inner.ProgressSetDots(dots); }
    void ProgressSetPercent(int percent) override { m_inner.ProgressSetPercent(percent); }
    void ProgressEnd() override { m_inner.ProgressEnd(); }
    int MessageDialog(const MessageDialogRequest& request) override;
    void ResultDialog(const ResultDialogRequest& request) override;
    PortDialogResult PortDialog(const PortDialogRequest& request) override;
    UploaderDialogResult UploaderDialog(const UploaderDialogRequest& request) override;
    void SetStatusText(const QString& text) override { m_inner.SetStatusText(text); }
    void Beep() override { m_inner.Beep(); }

private:
    void Note(const QString& caption, const QString& text);
    UserInteraction& m_inner;
    LastingLog* m_log;
    std::function<void(const QString&)> m_paneLine;
};

} // namespace nx7::diag
