#include "update/write_result.h"

#include "core/app_core.h"
#include "platform/ui_seam.h"
#include "update/uploader_selection.h"

namespace nx7
{

namespace
{

struct ClassRow {
    FailureClass cls;
    const char* name;             // the write's own classes
    diag::UploaderClass uploader; // the uploader's, named by the classifier
    bool fromUploader;
};

constexpr ClassRow kClasses[] = {
    {FailureClass::Unspecified, "failed", {}, false},
    {FailureClass::ApNotJoined, "ap-not-joined", {}, false},
    {FailureClass::NetworkCheck, "network-check", {}, false},
    {FailureClass::NoResultInTime, "no-result-in-time", {}, false},
    {FailureClass::VersionDiffers, "version-differs", {}, false},
    {FailureClass::VersionAfterRestart, "version-after-restart", {}, false},
    {FailureClass::BoardSilent, "board-silent", {}, false},
    {FailureClass::PortVanished, "port-vanished", {}, false},
    {FailureClass::LinkLost, "link-lost", {}, false},
    {FailureClass::UploaderCannotStart, "uploader-cannot-start", {}, false},
    {FailureClass::OtaModeRefused, "ota-mode-refused", {}, false},
    {FailureClass::Aborted, "aborted", {}, false},
    {FailureClass::BadArguments, nullptr, diag::UploaderClass::BadArguments, true},
    {FailureClass::ListenFailed, nullptr, diag::UploaderClass::ListenFailed, true},
    {FailureClass::HostNotFound, nullptr, diag::UploaderClass::HostNotFound, true},
    {FailureClass::InvitationUnanswered, nullptr, diag::UploaderClass::InvitationUnanswered, true},
    {FailureClass::BadAnswer, nullptr, diag::UploaderClass::BadAnswer, true},
    {FailureClass::AuthRefused, nullptr, diag::UploaderClass::AuthRefused, true},
    {FailureClass::AuthNoAnswer, nullptr, diag::UploaderClass::AuthNoAnswer, true},
    {FailureClass::SchemeMismatch, nullptr, diag::UploaderClass::SchemeMismatch, true},
    {FailureClass::NoConnectBack, nullptr, diag::UploaderClass::NoConnectBack, true},
    {FailureClass::TransferLost, nullptr, diag::UploaderClass::TransferLost, true},
    {FailureClass::ResultUnclear, nullptr, diag::UploaderClass::ResultUnclear, true},
    {FailureClass::BoardRejected, nullptr, diag::UploaderClass::BoardRejected, true},
    {FailureClass::UploaderUnknown, nullptr, diag::UploaderClass::UnknownFailure, true},
};

} // namespace

QString FailureClassName(FailureClass cls)
{
    for (const ClassRow& row : kClasses) {
        if (row.cls == cls)
            return row.fromUploader ? diag::ClassName(row.uploader) : QString::fromLatin1(row.name);
    }
    return QString();
}

FailureClass FromUploaderClass(diag::UploaderClass cls)
{
    for (const ClassRow& row : kClasses) {
        if (row.fromUploader && row.uploader == cls)
            return row.cls;
    }
    return FailureClass::None;
}

QString WriteResult::ClassText() const
{
    if (Ok())
        return QString();
    QString name = FailureClassName(cls == FailureClass::None ? FailureClass::Unspecified : cls);
    if (cls == FailureClass::Aborted && !boardReport.isEmpty())
        return QStringLiteral("%1 (board reported %2)").arg(name, boardReport);
    return name;
}

WriteResultTexts WriteResultFor(WriteOutcome outcome)
{
    constexpr unsigned kBlue = 0x0000FF;
    constexpr unsigned kRed = 0xFF0000;
    WriteResultTexts t;
    switch (outcome) {
    case WriteOutcome::Success:
        t.verdict = QStringLiteral("OK");
        t.verdictRgb = kBlue;
        t.detail = QStringLiteral("\nファームウェア書き込みが正常に完了しました。");
        t.closingLines = {QStringLiteral("OK:ファームウェア書き込みが正常に完了しました。")};
        return t;
    case WriteOutcome::Timeout:
        t.verdict = QStringLiteral("NG");
        t.verdictRgb = kRed;
        t.detail =
            QStringLiteral("\nタイムアウトしました。\n\n接続を確認し、もう一度書き込みを行ってください。");
        t.closingLines = {QStringLiteral("NG:タイムアウトしました。"),
                          QStringLiteral("接続を確認し、もう一度書き込みを行ってください。")};
        t.offerWriteAgain = true;
        return t;
    case WriteOutcome::UploaderError:
        t.verdict = QStringLiteral("NG");
        t.verdictRgb = kRed;
        t.detail =
            QStringLiteral("\nespota.exeでエラーが発生しました。\n\n接続製品とソフトを再起動してください。");
        t.closingLines = {QStringLiteral("NG:ファームウェアの書き込みを中止しました。")};
        return t;
    case WriteOutcome::Aborted:
        break;
    }
    t.verdict = QStringLiteral("NG");
    t.verdictRgb = kRed;
    t.detail = QStringLiteral("\nファームウェア書き込みを中止しました。\n\nソフトを再起動し、もう一度書き"
                              "込みを行ってください。");
    t.closingLines = {QStringLiteral("NG:ファームウェアの書き込みを中止しました。"),
                      QStringLiteral("ソフトを再起動し、もう一度書き込みを行ってください。")};
    return t;
}

void ShowWriteResult(AppCore& app, WriteOutcome outcome, const QString& why)
{
    const WriteResultTexts texts = WriteResultFor(outcome);
    ResultDialogRequest request;
    request.caption = QStringLiteral("書き込み結果");
    request.verdict = texts.verdict;
    request.verdictRgb = texts.verdictRgb;
    // The uploader as the person configured it: "espota.exe" in the text names its real file.
    request.detail = NameUploaderIn(
        why.isEmpty() ? texts.detail : texts.detail + QStringLiteral("\n\n") + why, app.Settings.App_ESPOta);
    app.Ui.ResultDialog(request);
}

} // namespace nx7
