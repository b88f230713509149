#pragma once
// The write's verdict in one table: how the uploader ended and how far it got, the board's own
// result notification, and the version the restarted board reports. A notification counts only
// for a transfer of this write that really got under way, and an image the uploader saw accepted
// is judged by the restarted board even when the notification never came.
#include "diag/uploader_output.h"
#include "update/tool_runner.h"
#include "update/write_result.h"

#include <QString>

namespace nx7
{

// How far the uploader got with the board, by its own words.
enum class UploadReach {
    NotReached, // it never reached the board (no invitation answered, crashed or hung before)
    Reached,    // authenticated or transferring: the board may well have the image
    Accepted,   // it ended well after sending the whole image, which the board took
};

// The board's result notification as the write takes it.
enum class BoardNote { None, Ok, Failed };

// The ROM version the restarted board reported.
enum class VersionCheck { NotAsked, Same, Differs, Unread };

struct VerdictInput {
    UploaderEnd end = UploaderEnd::Finished;
    UploadReach reach = UploadReach::NotReached;
    BoardNote note = BoardNote::None; // as heard, before the table decides whether it counts
    bool outputClean = true;          // no error word in the uploader's output
    VersionCheck version = VersionCheck::NotAsked;
};

struct VerdictRow {
    // The restarted board must be asked for its version before the verdict: ask it, then look the
    // row up again with the answer.
    bool askVersion = false;
    WriteOutcome outcome = WriteOutcome::Success;
    // The sequence's own line for the log ("OK: Program Update" before the restart, then
    // "NG: Program Update", "NG: Time Over", "NG: ERROR espota.exe"); empty for none.
    QString line;
    // A notification was heard but does not count for this write.
    bool noteIgnored = false;
    // The verdict rests on the restarted board alone: the notification never came.
    bool noteMissing = false;
};

// How far the uploader got, judged on its output and the way it ended.
UploadReach ReachOf(UploaderEnd end, const diag::UploaderRun& run);

// Whether a notification heard now should be waited for at all, and for how long after the run:
// the uploader's limit after a run that may have given the board the image, a short grace after
// an uploader that failed by itself, nothing when the board was never reached.
enum class VerdictWait { None, Grace, Limit };
VerdictWait WaitFor(UploaderEnd end, UploadReach reach);

// The one table. `in.note` is the notification heard by the end of the wait.
VerdictRow DecideVerdict(const VerdictInput& in);

} // namespace nx7
