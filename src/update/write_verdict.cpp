#include "update/write_verdict.h"

namespace nx7
{

namespace
{

const QString kOkProgram = QStringLiteral("OK: Program Update");
const QString kNgProgram = QStringLiteral("NG: Program Update");
const QString kNgTime = QStringLiteral("NG: Time Over");
const QString kNgUploader = QStringLiteral("NG: ERROR espota.exe");

VerdictRow Row(WriteOutcome outcome, const QString& line)
{
    VerdictRow r;
    r.outcome = outcome;
    r.line = line;
    return r;
}

// The board's version after the restart decides; `line` goes before the restart.
VerdictRow AskOrJudge(const VerdictInput& in, const QString& lineBefore)
{
    VerdictRow r;
    switch (in.version) {
    case VersionCheck::NotAsked:
        r.askVersion = true;
        r.outcome = WriteOutcome::Aborted;
        r.line = lineBefore;
        return r;
    case VersionCheck::Same:
        // An error word in the uploader's output still spoils a good version.
        return in.outputClean ? Row(WriteOutcome::Success, QString())
                              : Row(WriteOutcome::Aborted, kNgProgram);
    case VersionCheck::Differs:
    case VersionCheck::Unread:
        break;
    }
    return Row(WriteOutcome::Aborted, kNgProgram);
}

} // namespace

UploadReach ReachOf(UploaderEnd end, const diag::UploaderRun& run)
{
    if (end == UploaderEnd::CannotStart)
        return UploadReach::NotReached;
    diag::UploaderRun ownWords = run;
    ownWords.verdict = diag::BoardVerdict::None;
    const diag::UploaderFacts facts = diag::ClassifyUploaderOutput(ownWords);
    const bool met = facts.authenticated || facts.transferStarted;
    if (end == UploaderEnd::Finished && facts.transferStarted && facts.cls == diag::UploaderClass::Success &&
        (facts.percent < 0 || facts.percent >= 100))
        return UploadReach::Accepted;
    if (met)
        return UploadReach::Reached;
    // An uploader that says little but ends well is taken at its word.
    if (end == UploaderEnd::Finished && facts.cls == diag::UploaderClass::Success)
        return UploadReach::Reached;
    return UploadReach::NotReached;
}

VerdictWait WaitFor(UploaderEnd end, UploadReach reach)
{
    if (reach == UploadReach::NotReached)
        return VerdictWait::None;
    switch (end) {
    case UploaderEnd::Finished:
    case UploaderEnd::Silent:
        return VerdictWait::Limit;
    case UploaderEnd::Failed:
        return VerdictWait::Grace;
    case UploaderEnd::CannotStart:
    case UploaderEnd::Refused:
    case UploaderEnd::Aborted:
        break;
    }
    return VerdictWait::None;
}

VerdictRow DecideVerdict(const VerdictInput& in)
{
    VerdictRow r;
    switch (in.end) {
    case UploaderEnd::Aborted:
        // What the board said is kept for the record of the stop, not judged.
        return Row(WriteOutcome::Aborted, QString());
    case UploaderEnd::CannotStart:
    case UploaderEnd::Refused:
        r = Row(WriteOutcome::UploaderError, kNgUploader);
        break;
    case UploaderEnd::Finished:
    case UploaderEnd::Failed:
    case UploaderEnd::Silent:
        if (in.reach == UploadReach::NotReached) {
            // Whatever the board says, it is not about an image of this write.
            r = in.end == UploaderEnd::Silent   ? Row(WriteOutcome::Timeout, kNgTime)
                : in.end == UploaderEnd::Failed ? Row(WriteOutcome::UploaderError, kNgUploader)
                                                : Row(WriteOutcome::Aborted, kNgProgram);
            break;
        }
        if (in.note == BoardNote::Failed)
            return Row(WriteOutcome::Aborted, kNgProgram);
        if (in.note == BoardNote::Ok)
            return AskOrJudge(in, kOkProgram);
        if (in.reach == UploadReach::Accepted && in.outputClean && in.end == UploaderEnd::Finished) {
            r = AskOrJudge(in, QString());
            r.noteMissing = true;
            return r;
        }
        return in.end == UploaderEnd::Failed ? Row(WriteOutcome::UploaderError, kNgUploader)
                                             : Row(WriteOutcome::Timeout, kNgTime);
    }
    r.noteIgnored = in.note != BoardNote::None;
    return r;
}

} // namespace nx7
