// The write's verdict table, row by row, and how far the uploader got by its own words.
#include "update/ota_update.h"
#include "update/write_result.h"
#include "update/write_verdict.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace nx7;

namespace
{

const QString kOk = QStringLiteral("OK: Program Update");
const QString kNg = QStringLiteral("NG: Program Update");
const QString kTime = QStringLiteral("NG: Time Over");
const QString kUploader = QStringLiteral("NG: ERROR espota.exe");

struct Row {
    const char* name;
    UploaderEnd end;
    UploadReach reach;
    BoardNote note;
    bool clean;
    VersionCheck version;
    // Expected:
    bool askVersion;
    WriteOutcome outcome;
    QString line;
    bool ignored;
    bool missing;
};

constexpr auto Fin = UploaderEnd::Finished;
constexpr auto Fail = UploaderEnd::Failed;
constexpr auto Hung = UploaderEnd::Silent;
constexpr auto Never = UploadReach::NotReached;
constexpr auto Met = UploadReach::Reached;
constexpr auto Took = UploadReach::Accepted;
constexpr auto NoNote = BoardNote::None;
constexpr auto OkNote = BoardNote::Ok;
constexpr auto BrNote = BoardNote::Failed;
constexpr auto NotAsked = VersionCheck::NotAsked;
constexpr auto Same = VersionCheck::Same;
constexpr auto Differs = VersionCheck::Differs;
constexpr auto Unread = VersionCheck::Unread;

const Row kRows[] = {
    // A notification after an uploader that never reached the board is not about this write.
    {"never_reached_ok_exit0", Fin, Never, OkNote, true, NotAsked, false, WriteOutcome::Aborted, kNg, true,
     false},
    {"never_reached_ok_failed", Fail, Never, OkNote, true, NotAsked, false, WriteOutcome::UploaderError,
     kUploader, true, false},
    {"never_reached_ok_hung", Hung, Never, OkNote, true, NotAsked, false, WriteOutcome::Timeout, kTime, true,
     false},
    {"never_reached_br", Fail, Never, BrNote, true, NotAsked, false, WriteOutcome::UploaderError, kUploader,
     true, false},
    {"never_reached_silent_board", Fail, Never, NoNote, true, NotAsked, false, WriteOutcome::UploaderError,
     kUploader, false, false},
    {"cannot_start_ok", UploaderEnd::CannotStart, Never, OkNote, true, NotAsked, false,
     WriteOutcome::UploaderError, kUploader, true, false},
    {"refused", UploaderEnd::Refused, Never, NoNote, true, NotAsked, false, WriteOutcome::UploaderError,
     kUploader, false, false},
    {"aborted_with_ok", UploaderEnd::Aborted, Met, OkNote, true, NotAsked, false, WriteOutcome::Aborted,
     QString(), false, false},
    // A transfer under way: the board's word, then the restarted board's version.
    {"reached_ok_ask", Fin, Met, OkNote, true, NotAsked, true, WriteOutcome::Aborted, kOk, false, false},
    {"reached_ok_same", Fin, Met, OkNote, true, Same, false, WriteOutcome::Success, QString(), false, false},
    {"reached_ok_same_unclean", Fin, Met, OkNote, false, Same, false, WriteOutcome::Aborted, kNg, false,
     false},
    {"reached_ok_differs", Fin, Met, OkNote, true, Differs, false, WriteOutcome::Aborted, kNg, false, false},
    {"reached_ok_unread", Fin, Met, OkNote, true, Unread, false, WriteOutcome::Aborted, kNg, false, false},
    {"failed_uploader_board_ok", Fail, Met, OkNote, true, NotAsked, true, WriteOutcome::Aborted, kOk, false,
     false},
    {"hung_after_transfer_board_ok", Hung, Met, OkNote, true, NotAsked, true, WriteOutcome::Aborted, kOk,
     false, false},
    {"reached_br", Fin, Met, BrNote, true, NotAsked, false, WriteOutcome::Aborted, kNg, false, false},
    {"accepted_br", Fin, Took, BrNote, true, NotAsked, false, WriteOutcome::Aborted, kNg, false, false},
    {"reached_no_note", Fin, Met, NoNote, true, NotAsked, false, WriteOutcome::Timeout, kTime, false, false},
    {"reached_failed_no_note", Fail, Met, NoNote, true, NotAsked, false, WriteOutcome::UploaderError,
     kUploader, false, false},
    {"reached_hung_no_note", Hung, Met, NoNote, true, NotAsked, false, WriteOutcome::Timeout, kTime, false,
     false},
    // The uploader saw the board take the whole image, and the notification never came.
    {"accepted_no_note_ask", Fin, Took, NoNote, true, NotAsked, true, WriteOutcome::Aborted, QString(), false,
     true},
    {"accepted_no_note_same", Fin, Took, NoNote, true, Same, false, WriteOutcome::Success, QString(), false,
     true},
    {"accepted_no_note_differs", Fin, Took, NoNote, true, Differs, false, WriteOutcome::Aborted, kNg, false,
     true},
    {"accepted_no_note_unread", Fin, Took, NoNote, true, Unread, false, WriteOutcome::Aborted, kNg, false,
     true},
    {"accepted_no_note_unclean", Fin, Took, NoNote, false, NotAsked, false, WriteOutcome::Timeout, kTime,
     false, false},
};

class VerdictTable : public ::testing::TestWithParam<Row>
{
};

TEST_P(VerdictTable, Row)
{
    const Row& r = GetParam();
    VerdictInput in;
    in.end = r.end;
    in.reach = r.reach;
    in.note = r.note;
    in.outputClean = r.clean;
    in.version = r.version;
    const VerdictRow got = DecideVerdict(in);
    EXPECT_EQ(got.askVersion, r.askVersion);
    if (!r.askVersion) {
        EXPECT_EQ(got.outcome, r.outcome);
    }
    EXPECT_EQ(got.line, r.line);
    EXPECT_EQ(got.noteIgnored, r.ignored);
    EXPECT_EQ(got.noteMissing, r.missing);
}

INSTANTIATE_TEST_SUITE_P(Rows, VerdictTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

// Only an OK that counts, or an image the uploader saw accepted, ever leads to OK.
TEST(VerdictTable, NoOkWithoutTheBoardsWordOrAnAcceptedImage)
{
    for (UploaderEnd end :
         {Fin, Fail, Hung, UploaderEnd::CannotStart, UploaderEnd::Refused, UploaderEnd::Aborted}) {
        for (UploadReach reach : {Never, Met, Took}) {
            for (BoardNote note : {NoNote, OkNote, BrNote}) {
                for (VersionCheck version : {NotAsked, Same, Differs, Unread}) {
                    const VerdictRow row = DecideVerdict({end, reach, note, true, version});
                    if (row.outcome != WriteOutcome::Success || row.askVersion)
                        continue;
                    EXPECT_EQ(version, Same);
                    EXPECT_NE(reach, Never);
                    EXPECT_TRUE(note == OkNote || (reach == Took && end == Fin && note == NoNote));
                }
            }
        }
    }
}

struct ReachCase {
    const char* name;
    UploaderEnd end;
    const char* output;
    UploadReach reach;
};

const char kWhole[] =
    "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
    "Uploading: [============================================================] 100% Done...\n";

const ReachCase kReach[] = {
    {"whole_image_exit0", Fin, kWhole, Took},
    {"whole_image_but_failed_exit", Fail, kWhole, Met},
    {"whole_image_then_hung", Hung, kWhole, Met},
    {"half_image_exit0", Fin, "Authenticating...OK\nUploading: [======      ] 50% ", Met},
    {"authenticated_only", Fin, "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n", Met},
    {"transfer_lost", Fail,
     "Uploading.....\n12:00:03 [ERROR]: Error Uploading: timed out after 5120 of 9000 bytes\n", Met},
    {"unclear_result", Fin,
     "Uploading: [====] 100% Done...\n12:00:09 [WARNING]: Upload completed but device sent unexpected "
     "response(s).\n",
     Met},
    {"invitation_unanswered", Fail,
     "Sending invitation to 192.168.4.1 ..........\n12:00:01 [ERROR]: No response from "
     "the ESP\n",
     Never},
    {"invitation_unanswered_exit0", Fin, "12:00:01 [ERROR]: No response from the ESP\n", Never},
    {"password_refused", Fail,
     "Authenticating...FAIL\n12:00:02 [ERROR]: Authentication Failed: Authentication Failed\n", Never},
    {"crashed_silently", Fail, "", Never},
    {"hung_silently", Hung, "", Never},
    {"says_nothing_ends_well", Fin, "", Met},
    {"cannot_start", UploaderEnd::CannotStart, "", Never},
};

class UploadReachTest : public ::testing::TestWithParam<ReachCase>
{
};

TEST_P(UploadReachTest, FromTheUploadersOwnWords)
{
    const ReachCase& c = GetParam();
    diag::UploaderRun run;
    run.output = QString::fromUtf8(c.output);
    if (c.end == Fin)
        run.exitCode = 0;
    else if (c.end == Fail)
        run.exitCode = 1;
    run.imageSize = 9000;
    // The board's own word does not change what the uploader says it did.
    run.verdict = diag::BoardVerdict::Ok;
    EXPECT_EQ(ReachOf(c.end, run), c.reach);
}

INSTANTIATE_TEST_SUITE_P(Outputs, UploadReachTest, ::testing::ValuesIn(kReach),
                         [](const ::testing::TestParamInfo<ReachCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(VerdictWait, OnlyForAnUploaderThatMetTheBoard)
{
    EXPECT_EQ(WaitFor(Fin, Never), VerdictWait::None);
    EXPECT_EQ(WaitFor(Fail, Never), VerdictWait::None);
    EXPECT_EQ(WaitFor(Fin, Met), VerdictWait::Limit);
    EXPECT_EQ(WaitFor(Hung, Met), VerdictWait::Limit);
    EXPECT_EQ(WaitFor(Fail, Took), VerdictWait::Grace);
    EXPECT_EQ(WaitFor(UploaderEnd::Refused, Met), VerdictWait::None);
    EXPECT_EQ(WaitFor(UploaderEnd::Aborted, Met), VerdictWait::None);
}

// Every class has one record name, none twice; the uploader's classes keep the classifier's names.
TEST(FailureClasses, OneNameEachAndTheUploadersOwn)
{
    QSet<QString> seen;
    for (int i = static_cast<int>(FailureClass::Unspecified);
         i <= static_cast<int>(FailureClass::UploaderUnknown); ++i) {
        const QString name = FailureClassName(static_cast<FailureClass>(i));
        EXPECT_FALSE(name.isEmpty()) << i;
        EXPECT_FALSE(seen.contains(name)) << name.toStdString();
        seen.insert(name);
    }
    EXPECT_EQ(FailureClassName(FailureClass::None), QString());
    for (diag::UploaderClass u : {diag::UploaderClass::TransferLost, diag::UploaderClass::AuthRefused,
                                  diag::UploaderClass::BoardRejected, diag::UploaderClass::UnknownFailure}) {
        EXPECT_EQ(FailureClassName(FromUploaderClass(u)), diag::ClassName(u));
    }
    EXPECT_EQ(FromUploaderClass(diag::UploaderClass::Success), FailureClass::None);
}

TEST(FailureClasses, RecordTextOfAResult)
{
    WriteResult r;
    r.verdict = true;
    r.outcome = WriteOutcome::Success;
    EXPECT_EQ(r.ClassText(), QString());
    EXPECT_TRUE(static_cast<bool>(r));
    r.outcome = WriteOutcome::Aborted;
    EXPECT_EQ(r.ClassText(), QStringLiteral("failed"));
    r.cls = FailureClass::Aborted;
    EXPECT_EQ(r.ClassText(), QStringLiteral("aborted"));
    r.boardReport = QStringLiteral("OK");
    EXPECT_EQ(r.ClassText(), QStringLiteral("aborted (board reported OK)"));
    // No verdict, no OK, whatever the outcome says.
    WriteResult none;
    none.outcome = WriteOutcome::Success;
    EXPECT_FALSE(static_cast<bool>(none));
}

} // namespace
