#pragma once
// The write's sequence as one class, shared by the files that hold its phases. Not for use
// outside src/update: the entry points are in ota_update.h.
#include "core/app_core.h"
#include "diag/preflight.h"
#include "platform/ui_seam.h"
#include "update/auto_join.h"
#include "update/tool_runner.h"
#include "update/wifi_check.h"
#include "update/write_result.h"
#include "update/write_verdict.h"

#include <QString>
#include <QTemporaryFile>
#include <cstdint>
#include <functional>
#include <memory>

namespace nx7::write_steps
{

// The board answered the last request with a refusal rather than staying silent. The one place
// that reads the engine's reply state for this.
bool BoardRefusedLastRequest(const TTComXDlg& engine);

// One write from the OTA-mode request to the result: each phase returns whether the write goes
// on; a phase that ends it leaves its outcome here. The phases live in three files: joining the
// board's network (write_join.cpp), uploading and judging the verdict (write_upload.cpp), and the
// rest of the sequence with its entry points (ota_update.cpp).
class WriteSequence
{
public:
    explicit WriteSequence(AppCore& app)
        : m_app(app)
        , m_engine(*app.Engine())
        , m_commands(app.Commands())
    {
        m_result.outcome = WriteOutcome::Timeout;
    }

    WriteResult Run();

private:
    enum class Prepared { Ready, GiveUp, Refused };

    Prepared Prepare();
    void TryAutoJoin(MessageDialogRequest& join);
    void LeaveAutoJoin();
    bool JoinAccessPoint(const std::function<void(const QString&)>& progress,
                         const std::function<bool()>& cancelled);
    bool JoinLink();
    bool CheckNetwork();
    bool WriteImageFile();
    void UploadAndAwaitVerdict();
    bool RetryWanted();
    bool PrepareRetry();
    void LogAttempt(int attempt);
    void AwaitNote(std::uint32_t from, std::uint32_t limitMs);
    BoardNote HeardNote() const;
    void IgnoreNote();
    VersionCheck ReadVersionAfterRestart();
    void ExplainVerdict(const VerdictInput& in, const VerdictRow& row, std::uint32_t waitedMs);
    diag::UploaderRun OwnRun(diag::BoardVerdict verdict) const;
    void VerifyAfterSecondRestart(VerdictRow& row);
    void JudgeUploaderRun(diag::BoardVerdict verdict, int waitedMs);
    void Record();
    WriteResult Finish();
    // The one way a failure is set: outcome, class and cause together.
    void Fail(WriteOutcome outcome, FailureClass cls, const diag::CauseAction& why = {});

    AppCore& m_app;
    TTComXDlg& m_engine;
    BoardCommands m_commands;
    UpdateStopwatch m_stopwatch;
    std::unique_ptr<QTemporaryFile> m_image;
    // What the write ends with; the phases fill it in, Finish completes it.
    WriteResult m_result;
    diag::PreflightResult m_preflight;
    UploaderRun m_run;
    QString m_uploaderPath;
    // For the write record: the version the board ran before, the version read after the restart,
    // a short name for what failed, and the upload's time when the board took the whole image.
    QString m_versionBefore;
    QString m_versionAfter;
    qint64 m_uploadMs = -1;
    qint64 m_imageSize = 0;
    // The access point joined by the tool itself; undone on every way out.
    std::unique_ptr<AutoJoin> m_autoJoin;
    bool m_autoJoined = false;
    diag::CauseAction m_joinFailure;
    // The failed upload is of a kind that a second try after a restart often cures.
    bool m_transient = false;
    // The link to the board went down while the write needed it.
    bool m_linkLost = false;
};

} // namespace nx7::write_steps
