#include "app/startup_flow.h"

#include "core/app_core.h"
#include "diag/diag_texts.h"
#include "discovery/connect_board.h"
#include "platform/app_paths.h"
#include "platform/helpers.h"
#include "platform/ui_seam.h"
#include "update/firmware_image.h"
#include "update/ota_update.h"
#include "update/uploader_selection.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace nx7
{

namespace
{

void Refuse(AppCore& app, const QString& text, const QString& caption)
{
    app.Ui.Message(ErrorBox(text, caption));
}

const QString kUnsupportedBoard =
    QStringLiteral("対応外のI/Fボードです。\n\nお使いのI/Fボード対応のツールをお使いください。");
const QString kFirmwareFault = QStringLiteral(
    "ファームウェアの異常を検出しました。\n\n接続の確認およびソフトと接続製品を再起動してください。");

// Images a killed write left behind; another instance's image in use stays. Both folders the
// image may go to are looked at: the setting may have changed since.
void RemoveLeftoverImages(AppCore& app)
{
    QStringList folders{TemporaryFirmwareFolder(1), TemporaryFirmwareFolder(0)};
    folders.removeDuplicates();
    for (const QString& folder : folders) {
        for (const QString& path : RemoveStaleImages(folder))
            app.AddLog(QStringLiteral("前回の書き込みで残った一時ファイルを削除しました: ") +
                           QDir::toNativeSeparators(path),
                       true);
    }
}

bool ModelAccepted(int selectModel, const QString& modelName)
{
    if (selectModel == 0)
        return modelName.contains(QStringLiteral("PB-RL12"));
    if (selectModel == 1)
        return modelName.contains(QStringLiteral("PB-RL11"));
    return true;
}

// A stop asked for during the check (Ctrl+C, closing the window) ends it without the refusal
// boxes, which would only blame the board for it.
bool Stopped(AppCore& app)
{
    if (!app.WriteAbortRequested())
        return false;
    app.AddLog(QStringLiteral("I/Fボードの確認を中断しました。"), true);
    return true;
}

// The checks of a board whose link is up, after the board check: ROM version, model, target id.
// Nothing is shown; a failure says what the start-up dialog would.
std::optional<BoardCheckFailure> CheckBoardFacts(AppCore& app)
{
    BoardCommands cmd = app.Commands();
    app.RomVersion.clear();
    if (cmd.ReadRomVersion(app.RomVersion)) {
        app.AddLog(QStringLiteral("IFB-ROMVer : ") + app.RomVersion, true);
        if (SubText(app.FirmwareId, 5, 5) != SubText(app.RomVersion, 5, 5))
            return BoardCheckFailure{kUnsupportedBoard, QStringLiteral("エラー"), {}};
    } else {
        app.AddLog(QStringLiteral("IFB-ROMVer : 取得失敗"), true);
        return BoardCheckFailure{kFirmwareFault, QString(), {}};
    }

    if (cmd.ReadModelName(app.ModelName)) {
        app.AddLog(QStringLiteral("IFB-ModelName : ") + app.ModelName, true);
        if (!ModelAccepted(app.Settings.SelectModel, app.ModelName))
            return BoardCheckFailure{kUnsupportedBoard, QStringLiteral("エラー"), {}};
    } else {
        app.AddLog(QStringLiteral("IFB-ModelName : 取得失敗"), true);
        return BoardCheckFailure{
            QStringLiteral(
                "モデル名を認識できませんでした。\n\n接続の確認およびソフトと接続製品を再起動してください。"),
            QString(),
            {}};
    }

    if (!cmd.GetTargetId(&app.TargetId))
        return BoardCheckFailure{kFirmwareFault, QString(), {}};
    return std::nullopt;
}

void LogLinkFacts(AppCore& app)
{
    TTComXDlg* engine = app.Engine();
    app.AddLog(QStringLiteral("COM Port : ") + engine->PortName(), false);
    app.AddLog(QStringLiteral("COM Speed: ") + QString::number(engine->BaudRate()) + QStringLiteral("bps"),
               false);
}

bool Verify(AppCore& app)
{
    const QString exe = ExecutablePath();
    if (!IsPlainAnsiPath(exe)) {
        // The path as the user's file manager shows it (backslashes on Windows).
        Refuse(app,
               QDir::toNativeSeparators(exe) +
                   QStringLiteral(
                       "\n\n上記のアップデートツール実行パスに\n半角英数字以外の文字が含まれています。\n"
                       "有効なパスにツールを移動してから再度実行してください。"),
               QStringLiteral("実行パスのエラー"));
        return false;
    }

    diag::CauseAction why;
    const bool connected = ConnectBoard(app, &why);
    if (Stopped(app))
        return false;
    if (!connected) {
        const QString fixed = QStringLiteral("I/Fボードの接続を確認できませんでした。\n\n"
                                             "接続と設定の確認およびソフトと接続製品を再起動してください。");
        Refuse(app, why.IsEmpty() ? fixed : fixed + QStringLiteral("\n\n") + why.Block(), QString());
        return false;
    }
    LogLinkFacts(app);
    const std::optional<BoardCheckFailure> failure = CheckBoardFacts(app);
    if (Stopped(app))
        return false;
    if (failure) {
        Refuse(app, failure->text, failure->caption);
        return false;
    }

    if (!QFileInfo(app.Settings.App_ESPOta).isFile())
        return SelectUploader(app, true);
    return true;
}

} // namespace

std::optional<BoardCheckFailure> CheckNextBoard(AppCore& app)
{
    if (!app.Engine() || !app.Engine()->IsConnected())
        return BoardCheckFailure{QStringLiteral("I/Fボードの接続を確認できませんでした。"), QString(), {}};
    // Nothing of the previous board is taken for this one's.
    app.RomVersion.clear();
    app.ModelName.clear();
    app.Settings.fNoVerCheck = 0;
    app.UsbModeSelected = false;
    // A stop request also cuts the board's waits short while the check runs.
    const ScopedFlag check(app.InterruptibleWaits);
    const bool passed = CheckIFB(app, app.Settings.CHK_IFB_TIME, false);
    if (!passed)
        return BoardCheckFailure{QStringLiteral("I/Fボードの接続を確認できませんでした。"), QString(),
                                 BoardSilent(app, *app.Engine())};
    app.AddLog(QStringLiteral("Find NX7 IFB"), false);
    LogLinkFacts(app);
    return CheckBoardFacts(app);
}

bool FormShow(AppCore& app)
{
    RemoveLeftoverImages(app);
    bool verified = false;
    {
        // A stop request also cuts the board's waits short while the check runs.
        const ScopedFlag check(app.InterruptibleWaits);
        verified = Verify(app);
    }
    if (verified) {
        if (app.View.showUploaderPath)
            app.View.showUploaderPath(app.Settings.App_ESPOta);
        if (app.View.showFirmware)
            app.View.showFirmware(QStringLiteral("Ver : ") + app.FirmwareId);
        return true;
    }
    app.CloseMainWindow();
    return false;
}

void FormCloseQuery(AppCore& app)
{
    const bool settingsSaved =
        SaveOptionSettings(app.SettingsPath, app.Settings, app.SavedOperationMode, &app.Ui);
    if (!app.Engine())
        return;

    BoardCommands cmd = app.Commands();
    // A board restarted shortly before (by a write) is heard again before it is asked anything.
    app.AwaitBoardBack();
    if (app.UsbModeSelected) {
        if (app.RestartBoard(2000)) {
            app.Ui.Message(OkBox(QStringLiteral("動作モードが「USBモード」に切り替わっています。\n\n"
                                                "設定ツールで任意のモードに切り替えてください。"),
                                 QStringLiteral("動作モードの再設定"), MsgIcon::Information));
        }
    } else if (!app.OperationModeKnown) {
        // Writing a guess (the initial 0) would leave the board in USB mode.
        app.AddLog(QStringLiteral("動作モードを読み取れなかったため、動作モードは変更しません。"), true);
    } else if (cmd.DousaModeSet(app.SavedOperationMode, 2000)) {
        SavePendingMode(app.SettingsPath, -1);
        app.RestartBoard(2000);
    }

    // Nothing goes on top of a failed save: the file keeps what it held.
    if (settingsSaved)
        app.Engine()->SaveComDebug();
    app.DestroyEngine();
}

void ESP32_RestartClick(AppCore& app)
{
    if (!app.Engine())
        return;
    app.AwaitBoardBack();
    const bool ok = app.RestartBoard(2000);
    app.AddLog(ok ? QStringLiteral("OK") : QStringLiteral("NG"), true);
}

} // namespace nx7
