// The classifier against the uploader's own lines, phase by phase, in both progress forms and
// both authentication schemes.
#include "diag/uploader_output.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace nx7::diag
{
namespace
{

struct OutputCase {
    const char* name;
    const char* output;
    std::optional<int> exitCode;
    BoardVerdict verdict;
    qint64 imageSize;
    UploaderClass expected;
    int percent;        // -1: not checked
    const char* reason; // nullptr: not checked
};

std::ostream& operator<<(std::ostream& os, const OutputCase& c)
{
    return os << c.name;
}

class UploaderOutputTable : public ::testing::TestWithParam<OutputCase>
{
};

TEST_P(UploaderOutputTable, TellsThePhaseWhereTheRunStopped)
{
    const OutputCase& c = GetParam();
    UploaderRun run;
    run.output = QString::fromUtf8(c.output);
    run.exitCode = c.exitCode;
    run.verdict = c.verdict;
    run.imageSize = c.imageSize;
    const UploaderFacts f = ClassifyUploaderOutput(run);
    EXPECT_EQ(ClassName(f.cls), ClassName(c.expected));
    if (c.percent >= 0) {
        EXPECT_EQ(f.percent, c.percent);
    }
    if (c.reason) {
        EXPECT_EQ(f.reason, QString::fromUtf8(c.reason));
    }
}

constexpr qint64 k100K = 102400;

INSTANTIATE_TEST_SUITE_P(
    RealLines, UploaderOutputTable,
    ::testing::Values(
        OutputCase{"success_bar",
                   "Sending invitation to 192.168.4.1 \nAuthenticating (MD5 protocol)...OK\n"
                   "\rUploading: [=====     ] 50% \rUploading: [==========] 100% Done...\n",
                   0, BoardVerdict::None, k100K, UploaderClass::Success, 100, nullptr},
        OutputCase{"success_dotted_no_password",
                   "Sending invitation to 192.168.4.1 \nUploading"
                   "........................................................................................."
                   "...........\n",
                   0, BoardVerdict::None, k100K, UploaderClass::Success, 100, nullptr},
        OutputCase{"listen_failed", "14:01:00 [ERROR]: Listen Failed: [Errno 98] Address already in use\n", 1,
                   BoardVerdict::None, 0, UploaderClass::ListenFailed, -1,
                   "[Errno 98] Address already in use"},
        OutputCase{"host_not_found",
                   "Sending invitation to 192.168.4.1 failed\n14:01:00 [ERROR]: Host 192.168.4.1 Not Found\n",
                   1, BoardVerdict::None, 0, UploaderClass::HostNotFound, -1, nullptr},
        OutputCase{"invitation_unanswered",
                   "Sending invitation to 192.168.4.1 ..........\n"
                   "14:02:40 [ERROR]: No response from the ESP\n",
                   1, BoardVerdict::None, 0, UploaderClass::InvitationUnanswered, -1, nullptr},
        OutputCase{"bad_answer",
                   "Sending invitation to 192.168.4.1 \n14:01:00 [ERROR]: Bad Answer: Not Enough Space\n", 1,
                   BoardVerdict::None, 0, UploaderClass::BadAnswer, -1, "Not Enough Space"},
        OutputCase{"auth_refused_md5",
                   "Sending invitation to 192.168.4.1 \nAuthenticating (MD5 protocol)...FAIL\n"
                   "14:01:00 [ERROR]: Authentication Failed: Authentication Failed\n",
                   1, BoardVerdict::None, 0, UploaderClass::AuthRefused, -1, nullptr},
        OutputCase{
            "auth_refused_after_md5_retry",
            "Sending invitation to 192.168.4.1 \nAuthenticating...FAIL\nRetrying with MD5 password...\n"
            "Sending invitation to 192.168.4.1 \nAuthenticating (MD5 protocol)...FAIL\n"
            "14:01:02 [ERROR]: Authentication Failed: Authentication Failed\n",
            1, BoardVerdict::None, 0, UploaderClass::AuthRefused, -1, nullptr},
        OutputCase{"auth_no_answer",
                   "Sending invitation to 192.168.4.1 \nAuthenticating...FAIL\n"
                   "14:01:10 [ERROR]: Authentication Failed: No Answer to our Authentication\n",
                   1, BoardVerdict::None, 0, UploaderClass::AuthNoAnswer, -1, nullptr},
        OutputCase{"scheme_mismatch",
                   "Sending invitation to 192.168.4.1 \n"
                   "14:01:00 [ERROR]: Invalid nonce length: 16 (expected 32 or 64)\n",
                   1, BoardVerdict::None, 0, UploaderClass::SchemeMismatch, -1, nullptr},
        OutputCase{"no_connect_back_sha256",
                   "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
                   "14:01:20 [ERROR]: No response from device\n",
                   1, BoardVerdict::None, 0, UploaderClass::NoConnectBack, -1, nullptr},
        OutputCase{"no_connect_back_without_password",
                   "Sending invitation to 192.168.4.1 \n"
                   "14:01:20 [ERROR]: No response from device\n",
                   1, BoardVerdict::None, 0, UploaderClass::NoConnectBack, -1, nullptr},
        OutputCase{"transfer_lost_dotted",
                   "Sending invitation to 192.168.4.1 \nAuthenticating...OK\nUploading"
                   ".........................\n"
                   "14:01:40 [ERROR]: Error Uploading: [Errno 104] Connection reset by peer\n",
                   1, BoardVerdict::None, k100K, UploaderClass::TransferLost, 25,
                   "[Errno 104] Connection reset by peer"},
        OutputCase{"transfer_lost_bar",
                   "Sending invitation to 192.168.4.1 \nAuthenticating...OK\n"
                   "\rUploading: [==        ] 21% \rUploading: [====      ] 45% "
                   "\n14:01:40 [ERROR]: Error Uploading: timed out\n",
                   1, BoardVerdict::None, k100K, UploaderClass::TransferLost, 45, "timed out"},
        OutputCase{"transfer_lost_marks_bytes",
                   "Uploading: 25%\n14:01:40 [ERROR]: Error Uploading: connection closed by "
                   "the device after 51200 of 102400 bytes\n",
                   1, BoardVerdict::None, k100K, UploaderClass::TransferLost, 50, nullptr},
        OutputCase{"no_result_after_completion",
                   "\rUploading: [==========] 100% Done...\n"
                   "14:02:00 [ERROR]: No response from device after upload completion\n",
                   1, BoardVerdict::None, k100K, UploaderClass::ResultUnclear, 100, nullptr},
        OutputCase{"odd_result_warning_exit0",
                   "\rUploading: [==========] 100% Done...\n14:02:00 [WARNING]: Upload "
                   "completed but device sent unexpected response(s). This may still be "
                   "successful.\n",
                   0, BoardVerdict::None, k100K, UploaderClass::ResultUnclear, 100, nullptr},
        OutputCase{"rejected_at_the_end_reported_as_error",
                   "Uploading: 100%\n14:02:00 [ERROR]: Error Uploading: MD5 Check Failed\n", 1,
                   BoardVerdict::None, k100K, UploaderClass::ResultUnclear, 100, "MD5 Check Failed"},
        OutputCase{"board_ok_decides_after_whole_send",
                   "\rUploading: [==========] 100% Done...\n"
                   "14:02:00 [ERROR]: No response from device after upload completion\n",
                   1, BoardVerdict::Ok, k100K, UploaderClass::Success, 100, nullptr},
        OutputCase{"board_ok_cannot_mend_an_early_failure",
                   "Sending invitation to 192.168.4.1 ..........\n"
                   "14:02:40 [ERROR]: No response from the ESP\n",
                   1, BoardVerdict::Ok, 0, UploaderClass::InvitationUnanswered, -1, nullptr},
        OutputCase{"board_reported_failure", "\rUploading: [==========] 100% Done...\n", 0,
                   BoardVerdict::Failed, k100K, UploaderClass::BoardRejected, 100, nullptr},
        OutputCase{
            "challenge_the_uploader_cannot_use",
            "Sending invitation to 192.168.4.1 \n14:01:00 [ERROR]: Bad Answer: AUTH 0123456789abcdef\n", 1,
            BoardVerdict::None, 0, UploaderClass::SchemeMismatch, -1, nullptr},
        OutputCase{"critical_not_enough_arguments", "14:00:00 [CRITICAL]: Not enough arguments.\n", 1,
                   BoardVerdict::None, 0, UploaderClass::BadArguments, -1, nullptr},
        OutputCase{"nonzero_exit_without_a_known_line",
                   "Traceback (most recent call last):\n  File \"x\", line 1\n", 1, BoardVerdict::None, 0,
                   UploaderClass::UnknownFailure, -1, nullptr},
        OutputCase{"exit_unknown_error_word_only", "socket.Error: something\n", std::nullopt,
                   BoardVerdict::None, 0, UploaderClass::UnknownFailure, -1, nullptr},
        OutputCase{"lower_case_error_is_no_failure", "Uploading: 100%\nsome error text\n", std::nullopt,
                   BoardVerdict::None, 0, UploaderClass::Success, 100, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UploaderOutput, ReportsAddressTriesAndAuthentication)
{
    UploaderRun run;
    run.output = QStringLiteral("Sending invitation to 192.168.4.1 ...\nAuthenticating (MD5 protocol)...OK\n"
                                "14:01:20 [ERROR]: No response from device\n");
    run.exitCode = 1;
    const UploaderFacts f = ClassifyUploaderOutput(run);
    EXPECT_EQ(f.address, QStringLiteral("192.168.4.1"));
    EXPECT_EQ(f.invitationTries, 3);
    EXPECT_TRUE(f.authenticated);
    EXPECT_FALSE(f.transferStarted);
    EXPECT_EQ(f.failureLine, QStringLiteral("[ERROR]: No response from device"));
}

TEST(UploaderOutput, DottedFormWithoutImageSizeCountsChunks)
{
    UploaderRun run;
    run.output = QStringLiteral("Uploading.......\n14:01:40 [ERROR]: Error Uploading: timed out\n");
    run.exitCode = 1;
    const UploaderFacts f = ClassifyUploaderOutput(run);
    EXPECT_EQ(f.cls, UploaderClass::TransferLost);
    EXPECT_EQ(f.chunks, 7);
    EXPECT_EQ(f.percent, -1);
}

} // namespace
} // namespace nx7::diag
