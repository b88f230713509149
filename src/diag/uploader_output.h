#pragma once
// Tells the uploader's failures apart from its whole output. The phase at which the uploader stops
// is the best clue to the cause, so the classifier follows the phases the output shows: bind,
// invitation, authentication, connect-back, transfer, result.
#include <QString>
#include <optional>

namespace nx7::diag
{

enum class UploaderClass {
    Success,              // no failure line; or the board itself reported success
    BadArguments,         // "[CRITICAL]: Not enough arguments."
    ListenFailed,         // the host port could not be bound
    HostNotFound,         // the board's address cannot be used at all
    InvitationUnanswered, // "No response from the ESP": the board's update service unreachable
    BadAnswer,            // the board refused the job at the invitation
    AuthRefused,          // the board refused the password
    AuthNoAnswer,         // the board fell silent after the challenge
    SchemeMismatch,       // "Invalid nonce length": board and uploader speak different schemes
    NoConnectBack,        // invited and authenticated, then no connection back to the PC
    TransferLost,         // "Error Uploading" before the whole image was sent
    ResultUnclear,        // whole image sent, then no result or an odd one
    BoardRejected,        // the board's own verdict was a failure
    UnknownFailure,       // a failure the output does not explain
};

// What the board said over the serial link about this upload.
enum class BoardVerdict { None, Ok, Failed };

struct UploaderRun {
    QString output;              // everything the uploader printed (standard output and error)
    std::optional<int> exitCode; // empty when the runner cannot tell
    BoardVerdict verdict = BoardVerdict::None;
    qint64 imageSize = 0; // bytes; lets the dotted progress form give a percentage
};

struct UploaderFacts {
    UploaderClass cls = UploaderClass::UnknownFailure;
    QString address;         // the board's address as the uploader named it
    int invitationTries = 0; // unanswered invitations (dots after "Sending invitation to")
    bool authenticated = false;
    bool transferStarted = false;
    int percent = -1;    // last percentage seen (or computed from chunks); -1 unknown
    int chunks = 0;      // 1024-byte chunks acknowledged in the dotted form
    QString reason;      // the text after the failure's own words, e.g. "Not Enough Space"
    QString failureLine; // the uploader's own failure line, without its time stamp
};

UploaderFacts ClassifyUploaderOutput(const UploaderRun& run);

// A short English name for logs and tests.
QString ClassName(UploaderClass cls);

// Failures that a fresh start of the board's update service often cures: the transfer broke
// midway, the board fell silent after the challenge, or it never connected back. Judged on the
// uploader's own output: a board that reports failure after a broken transfer only reports the
// break. A refused password and a board that rejects a whole image are not among them.
// The class when it is one of them.
std::optional<UploaderClass> TransientUploadFailure(const UploaderRun& run);

} // namespace nx7::diag
