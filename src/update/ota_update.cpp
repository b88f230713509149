#include "update/ota_update.h"

#include "core/app_core.h"
#include "platform/app_paths.h"
#include "platform/event_wait.h"
#include "platform/helpers.h"
#include "platform/ui_seam.h"
#include "update/firmware_image.h"
#include "update/tool_runner.h"
#include "update/wifi_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace nx7
{

namespace
{

constexpr int kRestartWaitMs = 2000;
constexpr std::uint32_t kNoStartPauseMs = 2000;

// Closes the write-progress dialog on every way out of the upload phase.
struct ProgressGuard {
    UserInteraction& ui;
    bool open = false;
    void Begin(const ProgressRequest& request)
    {
        ui.ProgressBegin(request);
        open = true;
    }
    void End()
    {
        if (open)
            ui.ProgressEnd();
        open = false;
    }
    ~ProgressGuard() { End(); }
};

void ShowUpdateError(AppCore& app, const QString& text)
{
    MessageRequest m;
    m.text = text;
    m.caption = QStringLiteral("エラー");
    m.icon = MsgIcon::Error;
    m.buttons = MsgButtons::Ok;
    app.Ui.Message(m);
}

// The board is left as it was asked to be before the write: restart, then a pause before anyone
// talks to it again.
bool GiveUpBeforeStart(AppCore& app)
{
    app.Commands().ESP32_RestartCmd(kRestartWaitMs);
    PumpSleep(kNoStartPauseMs);
    return false;
}

// Restores the saved operation mode and, once acknowledged, restarts the board.
void RestoreBoard(AppCore& app)
{
    BoardCommands commands = app.Commands();
    if (commands.DousaModeSet(app.SavedOperationMode, kRestartWaitMs))
        commands.ESP32_RestartCmd(kRestartWaitMs);
}

void RemoveTemporaryFile(const QString& path)
{
    if (QFileInfo::exists(path))
        QFile::remove(path);
}

// Writes the image to `path`; on failure a partial file is removed and `error` says what failed.
bool SaveImage(const QByteArray& image, const QString& path, QString* error)
{
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (ok)
        ok = file.write(image) == image.size() && file.flush();
    if (file.isOpen())
        file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    if (!ok) {
        RemoveTemporaryFile(path);
        *error = QStringLiteral("ファームウェアを一時ファイルに書き込めませんでした。\n\n") +
                 QDir::toNativeSeparators(path);
    }
    return ok;
}

QString QuotedPassword(const QString& password)
{
#ifdef Q_OS_WIN
    return password;
#else
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._+-]*$"));
    return plain.match(password).hasMatch() ? password : QuoteForInterpreter(password);
#endif
}

} // namespace

QString TemporaryFirmwarePath(int binPathMode)
{
    const QString folder = binPathMode == 1 ? SettingsFolder() : UserDataFolder();
    return QDir::toNativeSeparators(folder + QStringLiteral("UOf.bin"));
}

QString FormatApAddress(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg((address >> 24) & 0xFFu)
        .arg((address >> 16) & 0xFFu)
        .arg((address >> 8) & 0xFFu)
        .arg(address & 0xFFu);
}

QString BuildUploaderCommand(const QString& uploader, const QString& address, std::uint16_t port,
                             const QString& password, const QString& imagePath)
{
    QString line = QuoteForInterpreter(uploader) + QStringLiteral(" -i ") + address + QStringLiteral(" -p ") +
                   QString::number(port) + QStringLiteral(" --auth=") + QuotedPassword(password) +
                   QStringLiteral(" -f ") + QuoteForInterpreter(imagePath);
#ifdef Q_OS_WIN
    // cmd.exe /C strips one outer pair of quotes when the line begins with a quote.
    return QLatin1Char('"') + line + QLatin1Char('"');
#else
    return line;
#endif
}

WriteResultTexts WriteResultFor(int outcome)
{
    constexpr unsigned kBlue = 0x0000FF;
    constexpr unsigned kRed = 0xFF0000;
    WriteResultTexts t;
    switch (outcome) {
    case OutcomeSuccess:
        t.verdict = QStringLiteral("OK");
        t.verdictRgb = kBlue;
        t.detail = QStringLiteral("\nファームウェア書き込みが正常に完了しました。");
        t.closingLines = {QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")};
        break;
    case OutcomeTimeout:
        t.verdict = QStringLiteral("NG");
        t.verdictRgb = kRed;
        t.detail =
            QStringLiteral("\nタイムアウトしました。\n\n接続を確認し、もう一度書き込みを行ってください。");
        t.closingLines = {QStringLiteral("NG:タイムアウトしました。"),
                          QStringLiteral("接続を確認し、もう一度書き込みを行ってください。")};
        t.offerWriteAgain = true;
        break;
    case OutcomeUploaderError:
        t.verdict = QStringLiteral("NG");
        t.verdictRgb = kRed;
        t.detail =
            QStringLiteral("\nespota.exeでエラーが発生しました。\n\n接続製品とソフトを再起動してください。");
        t.closingLines = {QStringLiteral("NG:ファームウェアの書き込みを中止しました。")};
        break;
    default:
        t.verdict = QStringLiteral("NG");
        t.verdictRgb = kRed;
        t.detail = QStringLiteral("\nファームウェア書き込みを中止しました。\n\nソフトを再起動し、もう一度書き"
                                  "込みを行ってください。");
        t.closingLines = {QStringLiteral("NG:ファームウェアの書き込みを中止しました。"),
                          QStringLiteral("ソフトを再起動し、もう一度書き込みを行ってください。")};
        break;
    }
    return t;
}

void ShowWriteResult(AppCore& app, int outcome)
{
    const WriteResultTexts texts = WriteResultFor(outcome);
    ResultDialogRequest request;
    request.caption = QStringLiteral("書き込み結果");
    request.verdict = texts.verdict;
    request.verdictRgb = texts.verdictRgb;
    request.detail = texts.detail;
    app.Ui.ResultDialog(request);
}

bool RunOtaUpdate(AppCore& app)
{
    TTComXDlg* engine = app.Engine();
    if (!engine)
        return false;
    BoardCommands commands = app.Commands();

    // Preparation
    app.ToolOutputClean = true;
    if (!commands.GetApInfo(true, app.ApRecord))
        return GiveUpBeforeStart(app);
    engine->OtaResultArrived = false;
    engine->OtaResultOk = false;
    commands.SetOtaMode(2, true, app.Settings.ComPort, [&app] { app.Timer1.start(); });

    MessageDialogRequest join;
    join.caption = QStringLiteral("OTA経由のアップデート開始");
    join.message1 = QStringLiteral("パソコンを以下のWi-Fiアクセスポイント\nに接続してください。");
    join.message2 = QStringLiteral("接続完了後OKを押してください。\n書き込みが開始されます。");
    join.memoLines = {QStringLiteral("SSID      : ") + app.ApRecord.NetworkName,
                      QStringLiteral("Password  : ") + app.ApRecord.Password};
    if (app.Ui.MessageDialog(join) != 1)
        return GiveUpBeforeStart(app);

    // Link
    UpdateStopwatch stopwatch;
    stopwatch.Start();
    int outcome = OutcomeTimeout;
    const QString imagePath = TemporaryFirmwarePath(app.Settings.binPath_Mode);
    if (!WaitOtaLink(app, app.NetParams.Port, app.NetParams.IPAddr, app.Settings.CONECT_WAIT_TIME,
                     stopwatch)) {
        // Reported as a time-out: its texts ask to check the connection and the write can be retried.
        app.AddLog(QStringLiteral("Not Connection"), true);
        outcome = OutcomeTimeout;
    } else {
        // Image
        QDir().mkpath(QFileInfo(imagePath).absolutePath());
        QString error;
        const QByteArray image = LoadFirmwareImage(app.FirmwareId, &error);
        if (image.isEmpty() || !SaveImage(image, imagePath, &error)) {
            // The board must not stay in OTA mode; no verdict, the write may simply be tried again.
            ShowUpdateError(app, error);
            RestoreBoard(app);
            RemoveTemporaryFile(imagePath);
            return false;
        }

        if (!QFileInfo::exists(imagePath)) {
            outcome = OutcomeAborted;
            app.AddLog(QStringLiteral("Not Connection"), true);
        } else {
            // Upload
            app.SetWriteCommandAvailable(false);
            Deadline(0, 0);
            const auto progWait =
                static_cast<std::uint32_t>(app.Settings.Prog_WAIT_TIME < 0 ? 0 : app.Settings.Prog_WAIT_TIME);
            app.Settings.ProgMode = 1;

            app.ApRecord.OtaPort = kOtaUploadPort;
            const QString command =
                BuildUploaderCommand(app.Settings.App_ESPOta, FormatApAddress(app.ApRecord.IpAddr),
                                     app.ApRecord.OtaPort, app.UploadPassword, imagePath);
            app.AddLog(command, false);

            ProgressGuard progress{app.Ui};
            ProgressRequest request;
            request.caption = QStringLiteral("しばらくお待ちください");
            request.label = QStringLiteral("------- WiFi OTA Mode ----------");
            request.banner = true;
            app.Ui.SetStatusText(QString());
            ProcessPendingEvents();
            progress.Begin(request);
            ProcessPendingEvents();

            // A hung uploader is ended once the write's time limit has passed; the board's verdict
            // (or its absence) then decides below.
            const bool ran = RunTool(app, command, &app.Log, [progWait] { return Deadline(1, progWait); });
            if (!ran) {
                app.AddLog(QStringLiteral("NG: ERROR espota.exe"), false);
                outcome = OutcomeUploaderError;
            } else {
                // Board result: the notification is tested before the limit in every pass.
                for (;;) {
                    if (engine->OtaResultArrived && engine->OtaResultOk) {
                        app.AddLog(QStringLiteral("OK: Program Update"), false);
                        commands.ESP32_RestartCmd(app.Settings.CHK_IFB_TIME);
                        commands.ReadModelName(app.ModelName);
                        const bool romRead = commands.ReadRomVersion(app.RomVersion);
                        if (romRead && app.ToolOutputClean) {
                            app.AddLog(QStringLiteral("IFB-ROMVer : ") + app.RomVersion, true);
                            if (app.RomVersion == app.FirmwareId) {
                                outcome = OutcomeSuccess;
                            } else {
                                app.AddLog(QStringLiteral("NG: Program Update"), false);
                                outcome = OutcomeAborted;
                            }
                        } else {
                            app.AddLog(QStringLiteral("NG: Program Update"), false);
                            outcome = OutcomeAborted;
                        }
                        break;
                    }
                    if (engine->OtaResultArrived && !engine->OtaResultOk) {
                        app.AddLog(QStringLiteral("NG: Program Update"), false);
                        outcome = OutcomeAborted;
                        break;
                    }
                    if (Deadline(1, progWait)) {
                        app.AddLog(QStringLiteral("NG: Time Over"), false);
                        outcome = OutcomeTimeout;
                        break;
                    }
                    WaitForEvents(20);
                }
            }
            progress.End();
        }
    }

    // Closing
    RestoreBoard(app);
    RemoveTemporaryFile(imagePath);
    ShowWriteResult(app, outcome);
    app.AddLog(QStringLiteral("実行時間: ") + QString::number(stopwatch.ElapsedMs()) + QStringLiteral("ms"),
               false);
    const WriteResultTexts texts = WriteResultFor(outcome);
    for (const QString& line : texts.closingLines)
        app.AddLog(line, true);
    if (texts.offerWriteAgain)
        app.SetWriteCommandAvailable(true);
    return outcome == OutcomeSuccess;
}

void FileSave1Execute(AppCore& app)
{
    // A second write cannot start while one runs (the window is disabled, but shortcuts may still
    // reach a headless front-end); and without a board link there is nothing to write to.
    static bool running = false;
    if (running || !app.Engine())
        return;
    running = true;
    struct Restore {
        AppCore& app;
        bool& running;
        ~Restore()
        {
            app.SetMainEnabled(true);
            running = false;
        }
    } restore{app, running};
    app.SetMainEnabled(false);
    RunOtaUpdate(app);
}

} // namespace nx7
