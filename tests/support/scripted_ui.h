#pragma once
#include "platform/ui_seam.h"

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>

namespace nx7::test
{

// Records what a flow showed and answers from scripts. Message boxes with Yes/No buttons take the
// next entry of `answers` (default: `defaultAnswer`); OK boxes answer OK.
class ScriptedUi : public UserInteraction
{
public:
    MsgResult Message(const MessageRequest& r) override
    {
        messages.append(r);
        if (r.buttons == MsgButtons::YesNo) {
            if (!answers.empty()) {
                MsgResult a = answers.front();
                answers.pop_front();
                return a;
            }
            return defaultAnswer;
        }
        return r.buttons == MsgButtons::Yes ? MsgResult::Yes : MsgResult::Ok;
    }
    void ProgressBegin(const ProgressRequest& r) override
    {
        progress.append(r);
        ++progressOpen;
    }
    void ProgressSetLabel(const QString& l) override { progressLabels.append(l); }
    void ProgressSetDots(const QString& d) override { dots.append(d); }
    void ProgressSetPercent(int p) override { percents.append(p); }
    void ProgressEnd() override { --progressOpen; }
    int MessageDialog(const MessageDialogRequest& r) override
    {
        messageDialogs.append(r);
        if (r.whileShown) {
            MessageDialogRequest shown = r;
            const bool done = r.whileShown(
                shown, [this](const QString& line) { dialogProgress.append(line); },
                [this] { return cancelDuringWork; });
            if (cancelDuringWork)
                return 2;
            if (done)
                return 1;
            messageDialogFallbacks.append(shown);
        }
        return messageDialogAnswer;
    }
    void ResultDialog(const ResultDialogRequest& r) override { results.append(r); }
    PortDialogResult PortDialog(const PortDialogRequest& r) override
    {
        portDialogs.append(r);
        if (portDialogHandler)
            return portDialogHandler(r);
        PortDialogResult res;
        res.ok = portDialogOk;
        res.selected = r.selected;
        res.lines = r.lines;
        res.speedItem = r.speedItem;
        res.parityItem = r.parityItem;
        return res;
    }
    UploaderDialogResult UploaderDialog(const UploaderDialogRequest& r) override
    {
        uploaderDialogs.append(r);
        if (uploaderDialogHandler)
            return uploaderDialogHandler(r);
        return {2, r.path};
    }
    void SetStatusText(const QString& t) override { statusTexts.append(t); }
    void Beep() override { ++beeps; }

    QStringList messageTexts() const
    {
        QStringList t;
        for (const auto& m : messages)
            t.append(m.text);
        return t;
    }

    std::deque<MsgResult> answers;
    MsgResult defaultAnswer = MsgResult::No;
    int messageDialogAnswer = 1;
    bool portDialogOk = true;
    std::function<PortDialogResult(const PortDialogRequest&)> portDialogHandler;
    std::function<UploaderDialogResult(const UploaderDialogRequest&)> uploaderDialogHandler;

    QList<MessageRequest> messages;
    QList<ProgressRequest> progress;
    QStringList progressLabels;
    QStringList dots;
    QList<int> percents;
    int progressOpen = 0;
    QList<MessageDialogRequest> messageDialogs;
    // The texts a dialog fell back to when its work ended without closing it, and the work's
    // progress lines; `cancelDuringWork` plays a Cancel pressed while the work runs.
    QList<MessageDialogRequest> messageDialogFallbacks;
    QStringList dialogProgress;
    bool cancelDuringWork = false;
    QList<ResultDialogRequest> results;
    QList<PortDialogRequest> portDialogs;
    QList<UploaderDialogRequest> uploaderDialogs;
    QStringList statusTexts;
    int beeps = 0;
};

} // namespace nx7::test
