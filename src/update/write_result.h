#pragma once
// What a write ended with, typed: the outcome that picks the result dialog, the failure class that
// goes into the record (one table, the uploader's classes among them), the cause and action, and
// whether the write reached a verdict at all.
#include "diag/diag_texts.h"
#include "diag/uploader_output.h"

#include <QString>
#include <QStringList>

namespace nx7
{

class AppCore;

// Selects the result dialog's texts and the closing lines; the numbers are the ones the write's
// texts have always been known by.
enum class WriteOutcome : int {
    Success = 0,
    Aborted = 1,       // the image could not be put in place, the board refused it, the check failed
    Timeout = 2,       // no verdict from the board in time; the write can be tried again
    UploaderError = 3, // the uploader could not run or failed by itself
};

// Why a write failed, as the record names it.
enum class FailureClass {
    None,
    Unspecified,
    ApNotJoined,
    NetworkCheck,
    NoResultInTime,
    VersionDiffers,
    VersionAfterRestart,
    BoardSilent,
    PortVanished,
    LinkLost,
    UploaderCannotStart,
    OtaModeRefused,
    Aborted,
    // Told apart from the uploader's own output.
    BadArguments,
    ListenFailed,
    HostNotFound,
    InvitationUnanswered,
    BadAnswer,
    AuthRefused,
    AuthNoAnswer,
    SchemeMismatch,
    NoConnectBack,
    TransferLost,
    ResultUnclear,
    BoardRejected,
    UploaderUnknown,
};

// The record's name of a class ("transfer-lost", "ap-not-joined", ...); empty for None.
QString FailureClassName(FailureClass cls);
// The class of an uploader failure told apart from its output (None for a success).
FailureClass FromUploaderClass(diag::UploaderClass cls);

struct WriteResult {
    // The write got as far as a verdict (OK or NG shown and recorded); false when it gave up before
    // (join question declined, the image could not be put in place, a write already stopped).
    bool verdict = false;
    WriteOutcome outcome = WriteOutcome::Aborted;
    FailureClass cls = FailureClass::None;
    // For a stopped write: the result the board had notified by then ("OK", "BR"), else empty.
    QString boardReport;
    diag::CauseAction why;

    bool Ok() const { return verdict && outcome == WriteOutcome::Success; }
    explicit operator bool() const { return Ok(); }
    // The record's failure class ("aborted (board reported OK)"); empty for OK, "failed" for an NG
    // without a class.
    QString ClassText() const;
};

struct WriteResultTexts {
    QString verdict;
    unsigned verdictRgb = 0;
    QString detail;
    QStringList closingLines;
    bool offerWriteAgain = false;
};
WriteResultTexts WriteResultFor(WriteOutcome outcome);

// The result dialog of a write; `why` (the cause-and-action lines) goes below the fixed text. Where
// the text names "espota.exe", it names the configured uploader's own file.
void ShowWriteResult(AppCore& app, WriteOutcome outcome, const QString& why = QString());

} // namespace nx7
