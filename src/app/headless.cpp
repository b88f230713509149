#include "app/headless.h"

#include "app/production_loop.h"
#include "app/startup_flow.h"
#include "app/termination_signals.h"
#include "core/app_core.h"
#include "diag/lasting_log.h"
#include "diag/logged_ui.h"
#include "diag/support_bundle.h"
#include "platform/app_paths.h"
#include "platform/console_text.h"
#include "platform/helpers.h"
#include "update/ota_update.h"

#include <QDir>
#include <QFileInfo>

namespace nx7
{

namespace
{
void WriteLine(std::FILE* f, const QString& text)
{
    if (WriteConsoleLine(f, text))
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f);
    std::fputc('\n', f);
    std::fflush(f);
}
} // namespace

void StreamLog::AppendLine(const QString& line)
{
    ++m_lines;
    WriteLine(m_out, line);
}

void StreamLog::AppendRaw(const QString& text)
{
    WriteLine(m_out, ToolOutputEntry(text));
}

void HeadlessUi::Print(const QString& caption, const QString& text)
{
    WriteLine(m_err, QLatin1Char('[') + caption + QStringLiteral("] ") + text);
}

MsgResult HeadlessUi::Message(const MessageRequest& request)
{
    Print(request.caption.isEmpty() ? DefaultErrorCaption() : request.caption, request.text);
    if (request.buttons == MsgButtons::YesNo && request.defaultNo)
        WriteLine(m_err, QStringLiteral("（既定の答え: いいえ）"));
    switch (request.buttons) {
    case MsgButtons::Ok:
        return MsgResult::Ok;
    case MsgButtons::Yes:
        return MsgResult::Yes;
    case MsgButtons::YesNo:
        // Where No would only bring the same dialog back, give up instead of looping.
        return (m_options.yes || request.negativeRepeats) ? MsgResult::Yes : MsgResult::No;
    }
    return MsgResult::Ok;
}

void HeadlessUi::ProgressBegin(const ProgressRequest& request)
{
    m_lastPercent = -1;
    Print(request.caption, request.label);
}

void HeadlessUi::ProgressSetLabel(const QString& label)
{
    WriteLine(m_err, label);
}

void HeadlessUi::ProgressSetPercent(int percent)
{
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    WriteLine(m_err, QStringLiteral("書き込み中 %1%").arg(percent));
}

namespace
{
QString MessageDialogText(const MessageDialogRequest& request)
{
    QString text = request.message1 + QLatin1Char('\n') + request.message2;
    for (const QString& line : request.memoLines)
        text += QLatin1Char('\n') + line;
    return text;
}
} // namespace

int HeadlessUi::MessageDialog(const MessageDialogRequest& request)
{
    Print(request.caption, MessageDialogText(request));
    if (request.whileShown) {
        MessageDialogRequest shown = request;
        if (request.whileShown(
                shown, [this](const QString& line) { WriteLine(m_err, line); }, [] { return false; }))
            return 1;
        Print(request.caption, MessageDialogText(shown));
    }
    return m_options.yes ? 1 : 2;
}

void HeadlessUi::ResultDialog(const ResultDialogRequest& request)
{
    Print(request.caption, request.verdict + request.detail);
}

PortDialogResult HeadlessUi::PortDialog(const PortDialogRequest& request)
{
    Print(request.caption, request.lines.join(QLatin1Char('\n')));
    PortDialogResult result;
    result.lines = request.lines;
    result.speedItem = request.speedItem;
    result.parityItem = request.parityItem;
    result.selected = request.selected;
    // A serial link opens only the port that was named (--port, else the settings): the dialog's
    // preselection of another port when that one is missing would send requests to whatever is
    // attached there.
    const QString wanted = m_options.port.isEmpty() ? m_configuredPort : m_options.port;
    if (!wanted.isEmpty() && (request.serialLink || !m_options.port.isEmpty())) {
        result.selected = -1;
        for (int i = 0; i < request.lines.size(); ++i) {
            const QString& line = request.lines.at(i);
            if (line == wanted || line.startsWith(wanted + QLatin1Char('('))) {
                result.selected = i;
                break;
            }
        }
        if (result.selected < 0) {
            const QString present =
                request.lines.isEmpty() ? QStringLiteral("なし") : request.lines.join(QStringLiteral(", "));
            WriteLine(m_err,
                      QStringLiteral("ポート %1 が見つかりません。存在するポート: %2").arg(wanted, present));
        }
    }
    // Nothing to accept on a serial link: give up, as a person facing an empty list would. The
    // dialog coming back means the choice was refused: answering the same again would loop.
    result.ok =
        (result.selected >= 0 || (!request.serialLink && m_options.port.isEmpty())) && m_portDialogs == 0;
    ++m_portDialogs;
    if (!result.ok)
        WriteLine(m_err, QStringLiteral("キャンセル"));
    return result;
}

UploaderDialogResult HeadlessUi::UploaderDialog(const UploaderDialogRequest& request)
{
    // Nothing can be typed here: cancel (the path is set in the settings file instead).
    Print(request.caption,
          request.prompt + QLatin1Char('\n') + request.downloadNote + QLatin1Char('\n') + request.url);
    return {2, request.path};
}

bool SaveSupportBundle(const AppCore& app, const QString& zipPath, const QString& toolVersion, QString* error,
                       bool overwrite)
{
    diag::SupportBundleInput input;
    input.logFolder = diag::LogFolder();
    if (app.Lasting && app.Lasting->IsOpen())
        input.currentLog = app.Lasting->FilePath();
    input.settingsPath = app.SettingsPath;
    input.secrets = app.Secrets();
    input.toolVersion = toolVersion;
    input.imageVersion = app.FirmwareId;
    input.boardVersion = app.RomVersion;
    input.network = &app.Network();
    return diag::WriteSupportBundle(input, zipPath, error,
                                    overwrite ? diag::BundleTarget::Replace : diag::BundleTarget::New);
}

int RunSupportBundle(const QString& zipPath, const QString& toolVersion, bool force)
{
    // Nobody is there to ask: an existing file stays unless the command line said so.
    const QFileInfo target(zipPath);
    if (!target.isSymLink() && target.exists() && !force) {
        WriteLine(stderr,
                  QStringLiteral("サポート情報を保存できませんでした: %1: 同じ名前のファイルが既にあります。"
                                 "上書きするには --force を付けてください。")
                      .arg(QDir::toNativeSeparators(zipPath)));
        return 1;
    }
    // No log file of its own: the bundle carries the runs that are to be looked at.
    StreamLog log(stdout);
    HeadlessUi ui(HeadlessOptions{}, stderr);
    AppCore app(ui, log);
    app.Initialise(SettingsFilePath());
    QString error;
    if (!SaveSupportBundle(app, zipPath, toolVersion, &error, force)) {
        WriteLine(stderr, QStringLiteral("サポート情報を保存できませんでした: ") + error);
        return 1;
    }
    WriteLine(stdout, QStringLiteral("サポート情報を保存しました: ") + zipPath);
    return 0;
}

int RunHeadless(const HeadlessOptions& options)
{
    StreamLog stream(stdout);
    // Everything said on standard output and standard error is also kept in this run's log file.
    diag::LastingLog log(&stream, diag::LogFolder());
    HeadlessUi headlessUi(options, stderr);
    diag::LoggedUi ui(headlessUi, &log);
    AppCore app(ui, log);
    ui.SetPaneLine([&app](const QString& line) { app.AddLog(line, true); });
    app.Lasting = &log;
    log.SetSecretsSource([&app] { return app.Secrets(); });
    bool closed = false;
    app.View.closeMainWindow = [&] {
        // The window's close runs the shutdown each time it is asked for.
        FormCloseQuery(app);
        closed = true;
    };
    // An interrupt ends the run as a close would: the write stops, the board gets its mode back,
    // the settings are saved; the exit status tells which signal it was (128 + number).
    int caught = 0;
    TerminationSignals signalWatch([&](int signo) {
        if (caught != 0)
            return;
        caught = signo;
        WriteLine(stderr, QStringLiteral("中断します（シグナル %1）。").arg(signo));
        app.AbortWrite();
    });
    app.Initialise(SettingsFilePath());
    headlessUi.SetConfiguredPort(PortNameOfNumber(app.Settings.ComPort));
    if (options.verbose)
        app.SwitchDiagnosticsOn();
    app.AddLog(SettingsFileLogLine(app.SettingsPath), false);

    const bool ready = FormShow(app);
    bool ok = ready && !closed;
    if (ok && options.write && !app.WriteAbortRequested()) {
        if (options.repeat) {
            ProductionLoopOptions loop;
            loop.stopHint = QStringLiteral("終了するには Ctrl+C を押してください。");
            ok = RunProductionLoop(app, loop).AllOk();
        } else {
            ok = RunOtaUpdate(app).Ok();
        }
    }
    if (!closed)
        FormCloseQuery(app);
    if (caught != 0)
        return 128 + caught;
    return ok ? 0 : 1;
}

} // namespace nx7
